"""Drives a headless Firefox ESR for the report page's tests: a Node.js process
(firefox_bridge.mjs, puppeteer-core over WebDriver BiDi, installed by scripts/install-deps with
`npm ci` into tests/browser/node_modules) runs the browser, and this class speaks to it in JSON
lines. It offers what driver.Browser offers the tests: open, evaluate, wait_for, pump, mouse,
errors() (console errors, uncaught exceptions, blocked or outgoing requests) and dialogs.
"""

import json
import os
import shutil
import subprocess

HERE = os.path.dirname(os.path.abspath(__file__))


class DriverError(RuntimeError):
    pass


class Firefox:
    """One headless Firefox with one page. Use as a context manager."""

    def __init__(self, firefox="/usr/bin/firefox-esr", width=1280, height=900):
        node = os.environ.get("NODE") or shutil.which("node") or "node"
        modules = os.path.join(HERE, "node_modules")
        if not os.path.isdir(os.path.join(modules, "puppeteer-core")):
            raise DriverError(f"puppeteer-core is not installed in {modules}: run scripts/install-deps")
        env = dict(os.environ, PUPPETEER_SKIP_DOWNLOAD="1")
        self.process = subprocess.Popen(
            [node, os.path.join(HERE, "firefox_bridge.mjs"), shutil.which(firefox) or firefox,
             str(width), str(height)],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, env=env, cwd=HERE)

    def _call(self, cmd, **params):
        if self.process.poll() is not None:
            raise DriverError(f"the Firefox driver has ended ({self.process.returncode})")
        self.process.stdin.write(json.dumps(dict(params, cmd=cmd)) + "\n")
        self.process.stdin.flush()
        line = self.process.stdout.readline()
        if not line:
            raise DriverError(f"the Firefox driver ended during {cmd} ({self.process.wait()})")
        answer = json.loads(line)
        if "error" in answer:
            raise DriverError(f"{cmd}: {answer['error']}")
        return answer["ok"]

    def evaluate(self, expression):
        """The value of a JavaScript expression (a promise is awaited), or DriverError."""
        return self._call("evaluate", expression=expression)

    def open(self, path, ready="document.documentElement.dataset.ready === '1'", timeout=30):
        """Loads a local file and waits until `ready` is true."""
        self._call("open", url="file://" + os.path.abspath(path), ready=ready, timeout=timeout)

    def wait_for(self, expression, timeout=10):
        self._call("wait_for", expression=expression, timeout=timeout)

    def pump(self, seconds):
        """Lets the page run for a while (dialogs and errors raised after it was ready)."""
        self.evaluate(f"new Promise(r => setTimeout(r, {int(seconds * 1000)}))")

    def mouse(self, kind, x, y, buttons=0):
        """A real pointer event at (x, y) of the viewport: mouseMoved, mousePressed or
        mouseReleased; a move while pressed drags."""
        self._call("mouse", kind=kind, x=x, y=y)

    def errors(self):
        return self._call("errors")

    @property
    def dialogs(self):
        return self._call("dialogs")

    def close(self):
        if self.process.poll() is None:
            try:
                self._call("close")
            except (DriverError, OSError, ValueError):
                pass
            try:
                self.process.wait(30)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        for stream in (self.process.stdin, self.process.stdout):
            try:
                stream.close()
            except OSError:
                pass

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
