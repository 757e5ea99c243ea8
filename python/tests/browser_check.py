"""The example notebook in a browser: Debian's Jupyter Notebook on 127.0.0.1
with the orbax kernel, headless Chromium driven by Selenium opens
examples/orbax.ipynb, checks that its cells are highlighted as APL (CodeMirror
mode "apl"), runs its first code cell with Shift+Enter and reads the
result from the page.

    PYTHONPATH=build/default/python /usr/bin/python3 python/tests/browser_check.py

Exit status 0 when the page shows the result, 1 when not, 77 when Chromium,
its driver, Selenium or the notebook server is missing.
"""
import os
import secrets
import shutil
import socket
import subprocess
import sys
import tempfile
import time

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
WAIT = 120  # seconds for each step on a loaded machine


def missing():
    for program in ("/usr/bin/chromium", "/usr/bin/chromedriver"):
        if not os.path.exists(program):
            return program
    for module in ("selenium", "notebook"):
        try:
            __import__(module)
        except ImportError:
            return "the Python module " + module
    return None


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def start_server(folder, port, token):
    import orbax
    from orbax import kernel
    kernel.install(prefix=folder)
    # The kernel starts in the notebook's folder: it finds this orbax by an absolute path.
    package_parent = os.path.dirname(os.path.dirname(os.path.abspath(orbax.__file__)))
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(filter(None, [package_parent, os.environ.get("PYTHONPATH")])),
               JUPYTER_PATH=os.path.join(folder, "share", "jupyter"),
               JUPYTER_CONFIG_DIR=os.path.join(folder, "config"), JUPYTER_RUNTIME_DIR=os.path.join(folder, "runtime"))
    command = [sys.executable, "-m", "notebook", "--no-browser", "--ip=127.0.0.1", f"--port={port}",
               f"--NotebookApp.token={token}", f"--notebook-dir={folder}", "--allow-root"]
    log = open(os.path.join(folder, "server.log"), "w")
    server = subprocess.Popen(command, env=env, stdout=log, stderr=subprocess.STDOUT)
    deadline = time.monotonic() + WAIT
    while time.monotonic() < deadline and server.poll() is None:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return server
        except OSError:
            time.sleep(0.5)
    server.terminate()
    raise RuntimeError("the notebook server did not start:\n" + open(log.name).read()[-3000:])


def run_first_cell(url):
    """The cells' CodeMirror mode and the text the first code cell shows
    after Shift+Enter."""
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import WebDriverWait

    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage"):
        options.add_argument(argument)
    browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    try:
        browser.get(url)
        wait = WebDriverWait(browser, WAIT)
        wait.until(lambda b: b.execute_script(
            "return !!(window.Jupyter && Jupyter.notebook && Jupyter.notebook.kernel"
            " && Jupyter.notebook.kernel.is_connected())"))
        cell = wait.until(lambda b: b.find_elements(By.CSS_SELECTOR, ".code_cell"))[0]
        mode = browser.execute_script("return Jupyter.notebook.get_cell(1).code_mirror.getMode().name")
        cell.find_element(By.CSS_SELECTOR, ".CodeMirror").click()
        webdriver.ActionChains(browser).key_down(Keys.SHIFT).send_keys(Keys.ENTER).key_up(Keys.SHIFT).perform()
        output = wait.until(lambda b: cell.find_elements(By.CSS_SELECTOR, ".output_area pre"))
        return mode, output[0].text
    finally:
        browser.quit()


def main():
    absent = missing()
    if absent:
        print(f"browser check: skipped: {absent} is missing (scripts/deps.sh --browser installs it)")
        return 77
    folder = tempfile.mkdtemp(prefix="orbax-browser")
    shutil.copy(os.path.join(SOURCE, "examples", "orbax.ipynb"), folder)
    port, token = free_port(), secrets.token_hex(16)
    server = start_server(folder, port, token)
    try:
        mode, shown = run_first_cell(f"http://127.0.0.1:{port}/notebooks/orbax.ipynb?token={token}")
    finally:
        server.terminate()
        server.wait(timeout=WAIT)
    print(f"browser check: the cells' CodeMirror mode is {mode!r}; the first cell (+/⍳10) shows {shown!r}")
    if shown.strip() != "55" or mode != "apl":
        print(open(os.path.join(folder, "server.log")).read()[-3000:])
        return 1
    shutil.rmtree(folder, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
