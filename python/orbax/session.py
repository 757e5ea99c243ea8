"""orbax.Session: the APL library in this process, one session at a time."""
import os
import shutil
import sys
import tempfile
import threading
import weakref

from . import _orbax
from .values import to_python, to_record

_EVAL_NAME = "⍙PY"  # holds the value of s.eval's expression for a moment
_RIGHT_NAME = "⍙PYR"  # the arguments of s.call
_LEFT_NAME = "⍙PYL"
_started = False
_live = None  # a weak reference to the session that holds the library
_hidden = {}  # the hidden names as arrays, made once (for erasing them)


class APLError(Exception):
    """An APL error: its name ("DOMAIN"), its message (may be empty), the report
    as the session shows it (error line, the line at fault, the caret line)
    and what the line printed before it failed."""

    def __init__(self, name, message="", report="", output=""):
        self.name = name
        self.message = message
        self.report = report
        self.output = output
        super().__init__(report.rstrip("\n") or f"{name} ERROR" + (f" : {message}" if message else ""))


class APLInterrupt(APLError, KeyboardInterrupt):
    """INTERRUPT ERROR after Ctrl-C (or a kernel's interrupt) while APL ran: a
    KeyboardInterrupt to Python, and the session is still usable."""


# The error names of the numbers in aplerrno, as the session reports them.
_ERROR_NAMES = {1: "WSFULL", 2: "SYNTAX", 3: "INDEX", 4: "RANK", 5: "LENGTH", 6: "VALUE", 7: "AXIS", 8: "BRANCH",
                10: "LIMIT", 11: "DOMAIN", 16: "NONCE", 17: "FILE I/O", 30: "NOPIPES", 76: "NOPROCS", 78: "DEFN",
                100: "SYSTEM", 110: "VALENCE", 1003: "INTERRUPT", 1005: "EOF_INTERRUPT", 2000: "DEADLOCK"}


def _library_error(failure):
    number, message = failure.args
    return APLError(_ERROR_NAMES.get(number, f"ERROR {number}"), message)


def _parse_report(report, output, hidden_prefix=""):
    """The APLError of a session report; a line that starts with the hidden
    prefix (s.eval's own assignment) is shown without it, its carets moved."""
    lines = report.split("\n")
    head = lines[0]
    name, _, message = head.partition(" ERROR")
    message = message[3:] if message.startswith(" : ") else ""
    if hidden_prefix and len(lines) > 1 and lines[1].startswith(hidden_prefix):
        cut = len(hidden_prefix)
        lines[1] = lines[1][cut:]
        if len(lines) > 2 and set(lines[2].strip()) == {"^"}:
            # A caret under the hidden prefix itself goes to the first column.
            lines[2] = lines[2][cut:] if len(lines[2]) > cut else "^"
    cls = APLInterrupt if name == "INTERRUPT" else APLError
    return cls(name, message, "\n".join(lines), output)


def _data_file(name):
    """A data file of the package, at a path the library can hold (95 bytes)."""
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), name)
    if len(os.fsencode(path)) < 96:
        return path
    short = os.path.join(tempfile.mkdtemp(prefix="orbax"), name)
    shutil.copyfile(path, short)
    return short


def live_session():
    """The session that holds the library, or None."""
    return _live() if _live is not None else None


def blocks():
    """(live blocks, sum of link counts) of the library's memory."""
    return _orbax.blocks()


class Session:
    """The APL session of this process. The library is single-threaded: one
    live Session per process, used from the thread that made it. A new Session
    (after the old one is closed or dropped) starts with a clear workspace;
    values taken from the old one stay valid."""

    def __init__(self, nested="array", align=False):
        global _started, _live
        if nested not in ("array", "list"):
            raise ValueError("nested is 'array' (NumPy object arrays) or 'list' (lists for vectors)")
        if live_session() is not None:
            raise RuntimeError("an orbax.Session is already live in this process; the APL library is "
                               "single-threaded: close() it (or drop it) before making another")
        self._thread = threading.get_ident()
        self._catch = threading.current_thread() is threading.main_thread()
        self._nested = nested
        self._align = align
        if not _started:
            _orbax.start(_data_file("Standard.tok"), _data_file("session.msg"))
            _started = True
        else:
            _orbax.run([b")CLEAR"], False)
        if not _hidden:
            _hidden.update((n, to_record(n)) for n in (_EVAL_NAME, _RIGHT_NAME, _LEFT_NAME))
        self._eval_prefix = _orbax.codes(_EVAL_NAME + "←")
        _live = weakref.ref(self)

    def close(self):
        """Gives up the library; another Session may be made afterwards."""
        global _live
        if live_session() is self:
            _live = None
            if self._catch:
                _orbax.release_interrupt()
        self._thread = None

    def __del__(self):
        self.close()

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()

    def _check(self):
        if self._thread is None:
            raise RuntimeError("this orbax.Session is closed")
        if threading.get_ident() != self._thread:
            raise RuntimeError("the APL library is single-threaded: this orbax.Session belongs to another thread")

    def _lines(self, text):
        codes = []
        for number, line in enumerate(text.splitlines(), 1):
            try:
                codes.append(_orbax.codes(line))
            except ValueError as error:
                raise ValueError(f"line {number}: {error}") from None
        return codes

    def run(self, text):
        """Runs the lines as the session does; returns what they printed
        (error reports included). Ctrl-C ends the running line with INTERRUPT
        ERROR and raises APLInterrupt, whose output is what was printed."""
        self._check()
        output, _, interrupted = _orbax.run(self._lines(text), self._catch)
        if interrupted:
            raise APLInterrupt("INTERRUPT", "", "INTERRUPT ERROR", output)
        return output

    def eval(self, expression):
        """The value of an APL expression (one statement). What it prints goes
        to sys.stdout; an error raises APLError."""
        self._check()
        value, output, report_at, interrupted = _orbax.eval(self._eval_prefix, _hidden[_EVAL_NAME], expression,
                                                            self._catch)
        if report_at >= 0:
            self._show(output[:report_at])
            raise _parse_report(output[report_at:], output[:report_at], _EVAL_NAME + "←")
        if output:
            self._show(output)
        if interrupted:
            raise APLInterrupt("INTERRUPT", "", "INTERRUPT ERROR", output)
        if isinstance(value, _orbax.Record):
            return to_python(value, self._nested, self._align)
        return value

    @staticmethod
    def _show(text):
        if text:
            sys.stdout.write(text if text.endswith("\n") else text + "\n")

    def __getitem__(self, name):
        self._check()
        try:
            record = _orbax.variable(_orbax.codes(name))
        except _orbax.Failure as failure:
            raise _library_error(failure) from None
        if record is None:
            raise KeyError(name)
        return to_python(record, self._nested, self._align)

    def __setitem__(self, name, value):
        """Assigns through the session's checked assignment: a system variable
        refuses a value it cannot take (APLError, the old value kept)."""
        self._check()
        record = to_record(value)
        try:
            _orbax.assign(_orbax.codes(name), record)
        except _orbax.Failure as failure:
            raise _library_error(failure) from None

    def __delitem__(self, name):
        self._check()
        if name not in self:
            raise KeyError(name)
        _orbax.erase(to_record(name))

    def __contains__(self, name):
        self._check()
        try:
            return _orbax.variable(_orbax.codes(name)) is not None
        except (ValueError, _orbax.Failure):
            return False

    def get(self, name, default=None):
        try:
            return self[name]
        except KeyError:
            return default

    def fix(self, lines):
        """Defines a function from its lines (a str of lines or a list);
        returns its name. A line at fault raises APLError DEFN naming it."""
        self._check()
        if isinstance(lines, str):
            lines = lines.splitlines()
        record = to_record([str(line) for line in lines])
        try:
            result = _orbax.fix(record)
        except _orbax.Failure as failure:
            raise _library_error(failure) from None
        value = to_python(result)
        if isinstance(value, str):
            return value
        where = "the header" if value == 0 else f"line {value}"
        raise APLError("DEFN", f"{where} of the definition is at fault")

    def call(self, function, right, left=None):
        """function right, or left function right: function is the name of a
        defined function or a primitive function expression ("+/", "⍋")."""
        self._check()
        self[_RIGHT_NAME] = right
        expression = f"{function} {_RIGHT_NAME}"
        try:
            if left is not None:
                self[_LEFT_NAME] = left
                expression = f"{_LEFT_NAME} {expression}"
            return self.eval(expression)
        finally:
            _orbax.erase(_hidden[_RIGHT_NAME])
            _orbax.erase(_hidden[_LEFT_NAME])

    def names(self, classes=(2, 3, 4)):
        """The names of the workspace of the given name classes (2 variables,
        3 functions, 4 operators), for completion."""
        self._check()
        matrix = _orbax.name_list(to_record(list(classes)))
        return _matrix_rows(matrix)

    def source(self, name):
        """The lines of a defined function (its canonical representation), or
        None when the name is not a defined function."""
        self._check()
        try:
            rows = _matrix_rows(_orbax.char_rep(to_record(name)))
        except _orbax.Failure:
            return None
        return rows or None


def _matrix_rows(record):
    if record is None:
        return []
    shape = record.shape
    text = record.text()
    if len(shape) == 1:
        return [text.rstrip()] if text.strip() else []
    width = shape[1]
    return [text[i * width:(i + 1) * width].rstrip() for i in range(shape[0])]
