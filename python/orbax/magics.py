"""IPython magics: %load_ext orbax, then

    %%apl          a cell of APL lines, shown as the console shows them
    %apl EXPR      the value of an expression, as a Python value
    %apl X←df      X gets the value of the Python variable df
"""
import re

from IPython.core.magic import Magics, line_cell_magic, magics_class

from .session import Session, live_session

# NAME← at the start of a line (a variable or a system variable).
_ASSIGNMENT = re.compile(r"^\s*((?:⎕)?[A-Za-z∆⍙_][A-Za-z0-9∆⍙_¯]*)\s*←\s*(.*?)\s*$")
_IDENTIFIER = re.compile(r"[A-Za-z_][A-Za-z0-9_]*\Z")


@magics_class
class AplMagics(Magics):
    """The %apl and %%apl magics over the process's orbax.Session."""

    def __init__(self, shell):
        super().__init__(shell)
        self._own = None

    @property
    def session(self):
        """The live session of the process (made on first use)."""
        live = live_session()
        if live is None:
            self._own = live = Session()
        return live

    @line_cell_magic
    def apl(self, line, cell=None):
        if cell is not None:
            print(self.session.run(cell), end="")
            return None
        assignment = _ASSIGNMENT.match(line)
        if assignment and _IDENTIFIER.match(assignment.group(2)):
            name, source = assignment.groups()
            if source in self.shell.user_ns:
                self.session[name] = self.shell.user_ns[source]
                return None
        value = self.session.eval(line)
        return None if assignment else value
