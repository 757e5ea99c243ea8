#!/usr/bin/env bash
# The wheel as a user installs it: built by the python_wheel target, installed
# with pip --no-index into a virtual environment that sees Debian's packages,
# then used from outside the source and build trees.
#   check_wheel.sh PYTHON BUILD_DIR
set -euo pipefail
python=$1 build=$2
if ! "$python" -c 'import numpy, build, venv' 2>/dev/null; then
    echo "python_wheel: skipped: $python lacks NumPy, build or venv (scripts/deps.sh --python installs them)"
    exit 77
fi
cmake --build "$build" --target python_wheel >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$python" -m venv --system-site-packages "$work/venv"
"$work/venv/bin/pip" install -q --no-index "$build"/python/dist/orbax-*.whl
cd "$work"
env -u PYTHONPATH "$work/venv/bin/python" - "$work/venv" <<'PY'
import os, sys
import orbax
assert orbax.__file__.startswith(sys.argv[1]), orbax.__file__
s = orbax.Session()
assert s.eval("+/⍳10") == 55
assert s.run("2 3⍴⍳6") == "1 2 3\n4 5 6\n"
from orbax import kernel
folder = kernel.install(prefix=sys.argv[1])
assert os.path.exists(os.path.join(folder, "kernel.json"))
print("wheel installed and used from", orbax.__file__)
PY
