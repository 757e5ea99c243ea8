#!/usr/bin/env bash
# Runs the Python package's tests with the given interpreter: skipped (exit
# 77) with the reason when NumPy or pytest is missing, failed when pytest
# collects nothing (its exit 5), else pytest's own status.
#   run_pytest.sh PYTHON TESTDIR [PYTEST ARGS]
set -uo pipefail
python=$1 tests=$2
shift 2
if ! "$python" -c 'import numpy, pytest' 2>/dev/null; then
    echo "python: skipped: $python lacks NumPy or pytest (scripts/deps.sh --python installs them)"
    exit 77
fi
"$python" -m pytest -q -p no:cacheprovider "$tests" "$@"
status=$?
if [ $status -eq 5 ]; then
    echo "python: pytest collected no tests in $tests"
    exit 1
fi
exit $status
