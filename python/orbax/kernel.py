"""The orbax Jupyter kernel.

    python3 -m orbax.kernel install [--user | --prefix DIR | --sys-prefix]

registers it (as "orbax"); Jupyter then starts it as
python3 -m orbax.kernel -f CONNECTION_FILE.
"""
import argparse
import json
import os
import re
import sys
import tempfile

from ipykernel.kernelapp import IPKernelApp
from ipykernel.kernelbase import Kernel

from . import _orbax
from .session import Session, _parse_report

# The backtick (prefix-key) layout of the console: ` then the key types the glyph.
KEYS = ("`⋄ 1¨ 2¯ 3< 4≤ 5= 6≥ 7> 8≠ 9∨ 0∧ -× =÷ q? e∊ r⍴ t~ y↑ u↓ i⍳ o○ p* [← ]→ a⍺ s⌈ d⌊ f_ g∇ h∆ j∘ "
        "k' l⎕ ;⍎ '⍕ z⊂ x⊃ b⊥ n⊤ m| ,⍝ .⍀ /⌿ \\⊢ #⍒ $⍋ %⌽ ^⍉ &⊖ *⍟ (⍱ )⍲ _! +⌹ E⍷ T⍨ P⍣ {⍞ }⍬ H⍙ J⍤ "
        "L⌷ :≡ |⊣")

# The characters of a name, and of the name being typed before the cursor.
_NAME_CHARS = "A-Za-z0-9∆⍙_¯⎕"
_NAME_BEFORE = re.compile(f"[{_NAME_CHARS}]*$")
_NAME_AFTER = re.compile(f"^[{_NAME_CHARS}]*")


class OrbaxKernel(Kernel):
    implementation = "orbax"
    implementation_version = "0.1"
    language = "apl"
    language_version = "orbax"
    language_info = {
        "name": "apl",
        "mimetype": "text/apl",
        "file_extension": ".apl",
        "codemirror_mode": "apl",
        "pygments_lexer": "text",
    }
    banner = "orbax APL. Type glyphs with the backtick prefix: ` then the key.\n" + KEYS

    def __init__(self, **kwargs):
        super().__init__(**kwargs)
        self.apl = Session()

    def _stream(self, text):
        if text:
            self.send_response(self.iopub_socket, "stream", {"name": "stdout", "text": text})

    def do_execute(self, code, silent, store_history=True, user_expressions=None, allow_stdin=False):
        """Runs the cell's lines one by one and stops at the first error, as
        a notebook cell does; an error is a Jupyter error with the report as
        its traceback. An interrupt between lines ends the cell as well."""
        try:
            for line in code.splitlines():
                failed = self._execute_line(line, silent)
                if failed:
                    return failed
        except KeyboardInterrupt:
            return self._error("INTERRUPT", "", ["INTERRUPT ERROR"], silent)
        return {"status": "ok", "execution_count": self.execution_count, "payload": [], "user_expressions": {}}

    def _execute_line(self, line, silent):
        """Runs one line; the error reply when it reported an error, else None."""
        try:
            codes = [_orbax.codes(line)]
        except ValueError as error:
            return self._error("CHARACTER", str(error), [str(error)], silent)
        output, report_at, interrupted = _orbax.run(codes, self.apl._catch)
        if report_at < 0 and not interrupted:
            if not silent:
                self._stream(output)
            return None
        before = output[:report_at] if report_at >= 0 else output
        if not silent:
            self._stream(before)
        if report_at < 0:
            return self._error("INTERRUPT", "", ["INTERRUPT ERROR"], silent)
        report = output[report_at:]
        error = _parse_report(report, before)
        return self._error(error.name, error.message, report.rstrip("\n").split("\n"), silent)

    def _error(self, name, message, traceback, silent):
        content = {"ename": name, "evalue": message, "traceback": traceback}
        if not silent:
            self.send_response(self.iopub_socket, "error", content)
        return {"status": "error", "execution_count": self.execution_count, **content}

    def do_complete(self, code, cursor_pos):
        """Names of the workspace and system names that start as the name
        before the cursor does."""
        start = _NAME_BEFORE.search(code[:cursor_pos]).start()
        prefix = code[start:cursor_pos]
        names = sorted(set(self.apl.names()) | set(_orbax.system_names()))
        matches = [n for n in names if n.startswith(prefix)] if prefix else []
        return {"status": "ok", "matches": matches, "cursor_start": start, "cursor_end": cursor_pos, "metadata": {}}

    def do_inspect(self, code, cursor_pos, detail_level=0, omit_sections=()):
        """The definition (⎕CR) of the function under the cursor, the display
        of the variable, or with no name there the prefix-key layout."""
        start = _NAME_BEFORE.search(code[:cursor_pos]).start()
        name = code[start:cursor_pos] + _NAME_AFTER.match(code[cursor_pos:]).group(0)
        text = None if name else self.banner
        if name:
            lines = self.apl.source(name)
            if lines:
                text = "\n".join(lines)
            elif name in self.apl:
                text = self.apl.run(name).rstrip("\n")
        data = {"text/plain": text} if text else {}
        return {"status": "ok", "found": bool(text), "data": data, "metadata": {}}


def spec(executable=None):
    return {
        "argv": [executable or sys.executable, "-Xfrozen_modules=off", "-m", "orbax.kernel", "-f", "{connection_file}"],
        "display_name": "APL (orbax)",
        "language": "apl",
        "interrupt_mode": "signal",
        "metadata": {"codemirror_mode": "apl"},
    }


def install(user=False, prefix=None):
    """Registers the kernel spec "orbax"; returns the folder it went to."""
    from jupyter_client.kernelspec import KernelSpecManager
    with tempfile.TemporaryDirectory() as folder:
        with open(os.path.join(folder, "kernel.json"), "w") as file:
            json.dump(spec(), file, indent=1)
        return KernelSpecManager().install_kernel_spec(folder, "orbax", user=user, prefix=prefix)


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if argv and argv[0] == "install":
        parser = argparse.ArgumentParser(prog="python3 -m orbax.kernel install")
        where = parser.add_mutually_exclusive_group()
        where.add_argument("--user", action="store_true", help="for this user")
        where.add_argument("--prefix", help="under this prefix (a virtual environment's, for one)")
        where.add_argument("--sys-prefix", action="store_true", help="under sys.prefix")
        options = parser.parse_args(argv[1:])
        prefix = sys.prefix if options.sys_prefix else options.prefix
        print("installed the orbax kernel in", install(user=options.user, prefix=prefix))
        return
    IPKernelApp.launch_instance(argv=argv, kernel_class=OrbaxKernel)


if __name__ == "__main__":
    main()
