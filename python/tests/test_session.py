"""The session: lines, expressions, names, functions, errors, interrupts and
the one-session, one-thread rule."""
import os
import signal
import subprocess
import threading

import numpy
import pytest

import orbax


def test_run_returns_what_the_lines_print(s):
    assert s.run("X←2+⍳3\nX\n2 3⍴X") == "3 4 5\n3 4 5\n3 4 5\n"
    assert s.run("1÷0") == "DOMAIN ERROR\n1÷0\n ^\n"


def test_tied_files_stay_tied_from_one_run_to_the_next(s, tmp_path):
    path = tmp_path / "data"
    path.write_bytes(b"abc")
    s.run(f"T←⎕NTIE '{path}'")
    assert s.eval("⎕NSIZE T") == 3
    s.run("⎕NUNTIE T")


def test_eval_fix_and_call(s, capsys):
    assert s.eval("+/⍳10") == 55
    assert s.eval("⍴⎕←2 2⍴1").tolist() == [2, 2]
    assert capsys.readouterr().out == "1 1\n1 1\n"
    assert s.fix("Z←L HYP R\nZ←((L*2)+R*2)*0.5") == "HYP"
    assert s.call("HYP", 4, left=3) == 5
    assert s.call("+/", numpy.arange(4)) == 6
    assert s.source("HYP") == ["Z←L HYP R", "Z←((L*2)+R*2)*0.5"]
    assert "HYP" in s.names() and "⍙PYR" not in s.names()
    with pytest.raises(orbax.APLError, match="line 1 of the definition"):
        s.fix(["Z←BAD", "Z←)"])


def test_errors_carry_name_message_and_caret(s):
    with pytest.raises(orbax.APLError) as error:
        s.eval("1 2+3 4 5")
    assert (error.value.name, error.value.report) == ("LENGTH", "LENGTH ERROR\n1 2+3 4 5\n   ^\n")
    assert "⍙PY" not in s.names()
    start = orbax.blocks()
    for expression in ("1+2", "'a'", "⍳3", "1÷0", "⎕←2"):
        try:
            s.eval(expression)
        except orbax.APLError:
            pass
    assert orbax.blocks() == start
    s.fix(["Z←F X", "Z←X÷0"])
    with pytest.raises(orbax.APLError) as error:
        s.call("F", 1)
    assert error.value.report == "DOMAIN ERROR\nF[1]\nZ←X÷0\n   ^\n"
    assert s.run(")SI") == ""  # nothing left suspended
    with pytest.raises(orbax.APLError) as error:
        s["⎕IO"] = 5  # the checked assignment
    assert (error.value.name, error.value.message) == ("DOMAIN", "Allowed values : 0,1")
    assert s["⎕IO"] == 1
    with pytest.raises(KeyError):
        s["NOSUCH"]


def test_interrupt_ends_the_line_and_the_session_goes_on(s, tmp_path):
    mark = tmp_path / "looping"
    s.fix(["LOOP", f"'' ⎕NWRITE '{mark}'", "L:→L"])
    # From another process, once the loop runs: the library keeps Python's lock while it runs.
    s.eval("0")  # the session's handler is in place
    # Python code may install its own handler meanwhile; the session takes Ctrl-C back for each run.
    signal.signal(signal.SIGINT, signal.getsignal(signal.SIGINT))
    killer = subprocess.Popen(["sh", "-c", f"while [ ! -e {mark} ]; do sleep 0.05; done; kill -INT {os.getpid()}"])
    with pytest.raises(KeyboardInterrupt) as error:
        s.eval("LOOP")
    killer.wait()
    assert isinstance(error.value, orbax.APLInterrupt) and error.value.name == "INTERRUPT"
    assert s.eval("1+1") == 2


def test_ctrl_c_while_no_apl_runs_is_pythons(s):
    s.eval("1")  # the session's handler is in place from now on
    with pytest.raises(KeyboardInterrupt) as error:
        os.kill(os.getpid(), signal.SIGINT)
        for _ in range(1000):  # Python raises at its next check
            pass
    assert not isinstance(error.value, orbax.APLInterrupt)
    assert s.eval("1+1") == 2


def test_one_session_per_process_used_by_one_thread(s):
    with pytest.raises(RuntimeError, match="already live"):
        orbax.Session()
    failures = []
    thread = threading.Thread(target=lambda: failures.append(pytest.raises(RuntimeError, s.eval, "1")))
    thread.start()
    thread.join()
    assert "single-threaded" in str(failures[0].value)
