"""IPython's magics through IPython's API; the Jupyter kernel driven by
jupyter_client; the example notebook executed by nbclient."""
import os
import queue

import numpy
import pytest

import orbax

IPython = pytest.importorskip("IPython")
jupyter_client = pytest.importorskip("jupyter_client")


@pytest.fixture
def ipython(s):
    from IPython.core.interactiveshell import InteractiveShell
    shell = InteractiveShell.instance()
    shell.run_line_magic("load_ext", "orbax")
    yield shell
    InteractiveShell.clear_instance()


def test_magics_run_cells_return_values_and_take_python_variables(ipython, s, capsys):
    ipython.run_cell("%%apl\nX←2 3⍴⍳6\nX\n1÷0\n")
    assert capsys.readouterr().out == "1 2 3\n4 5 6\nDOMAIN ERROR\n1÷0\n ^\n"
    assert ipython.run_line_magic("apl", "+/,X") == 21
    class Frame:  # as a pandas DataFrame offers its values
        def __array__(self, dtype=None):
            return numpy.array([[1.5, 2.5]])
    ipython.user_ns["df"] = Frame()
    assert ipython.run_line_magic("apl", "Y←df") is None
    assert s.eval("⍴Y").tolist() == [1, 2] and s["Y"][0, 1] == 2.5
    with pytest.raises(orbax.APLError, match="VALUE"):
        ipython.run_line_magic("apl", "NOSUCH")


@pytest.fixture(scope="module")
def kernel(tmp_path_factory):
    """The orbax kernel, installed under a prefix of its own and started."""
    from jupyter_client.manager import start_new_kernel
    from orbax import kernel as orbax_kernel
    prefix = tmp_path_factory.mktemp("prefix")
    orbax_kernel.install(prefix=str(prefix))
    os.environ["JUPYTER_PATH"] = str(prefix / "share" / "jupyter")
    manager, client = start_new_kernel(kernel_name="orbax", startup_timeout=120)
    yield manager, client
    client.stop_channels()
    manager.shutdown_kernel(now=True)


def execute(client, code):
    shown = []
    reply = client.execute_interactive(code, output_hook=shown.append, timeout=120)
    texts = [m["content"].get("text") for m in shown if m["msg_type"] == "stream"]
    errors = [m["content"] for m in shown if m["msg_type"] == "error"]
    return reply["content"], "".join(texts), errors


def test_kernel_executes_completes_and_inspects(kernel):
    _, client = kernel
    reply, text, _ = execute(client, "+/⍳10")
    assert (reply["status"], text) == ("ok", "55\n")
    reply, text, errors = execute(client, "⎕FX 'Z←F X' 'Z←X÷0'\nF 2\n'not reached'")
    assert reply["status"] == "error" and reply["ename"] == "DOMAIN" and text == "F\n"
    assert errors[0]["traceback"] == ["DOMAIN ERROR", "F[1]", "Z←X÷0", "   ^"]
    assert "⎕NL" in client.complete("⎕N", 2, reply=True)["content"]["matches"]
    assert client.inspect("1+F 3", 3, reply=True)["content"]["data"]["text/plain"] == "Z←F X\nZ←X÷0"
    assert "`r" not in client.kernel_info(reply=True)["content"]["banner"].split("\n")[1]  # keys as "r⍴"
    assert " r⍴ " in client.kernel_info(reply=True)["content"]["banner"]


def test_kernel_interrupt_ends_a_loop(kernel):
    manager, client = kernel
    execute(client, "⎕FX 'LOOP' 'L:→L'")
    client.execute("LOOP", stop_on_error=False)
    reply = None
    while reply is None:  # an interrupt while the kernel is idle is ignored
        manager.interrupt_kernel()
        try:
            reply = client.get_shell_msg(timeout=2)["content"]
        except queue.Empty:
            pass
    assert (reply["status"], reply["ename"]) == ("error", "INTERRUPT")
    assert execute(client, "1+1")[1] == "2\n"


def test_example_notebook_runs(kernel):
    nbformat = pytest.importorskip("nbformat")
    nbclient = pytest.importorskip("nbclient")
    source = os.path.join(os.environ.get("ORBAX_SOURCE_DIR", "."), "examples", "orbax.ipynb")
    notebook = nbformat.read(source, as_version=4)
    nbclient.NotebookClient(notebook, timeout=120, kernel_name="orbax").execute()
    outputs = [cell.outputs for cell in notebook.cells if cell.cell_type == "code"]
    assert outputs[0][0]["text"] == "55\n"
    assert outputs[1][-1]["text"] == "24.25\n"
    assert outputs[-1][-1]["ename"] == "LENGTH"
