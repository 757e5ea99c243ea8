"""orbax: the orbax APL runtime in Python.

    >>> import orbax
    >>> s = orbax.Session()
    >>> s.eval("+/⍳10")
    55
    >>> s["X"] = numpy.arange(5)
    >>> print(s.run("X×2"), end="")
    0 2 4 6 8

In IPython, ``%load_ext orbax`` adds the ``%apl`` and ``%%apl`` magics; the
Jupyter kernel is installed with ``python3 -m orbax.kernel install --user``.
"""
from .session import APLError, APLInterrupt, Session, blocks

__all__ = ["APLError", "APLInterrupt", "Session", "blocks", "load_ipython_extension"]


def load_ipython_extension(ipython):
    from .magics import AplMagics
    ipython.register_magics(AplMagics)
