"""Drives a headless Firefox ESR through WebDriver BiDi, with Python's standard library only.

Firefox picks its own port (printed on stderr); the session subscribes to log entries (console
messages and uncaught errors) and to user prompts, which are recorded and dismissed.
"""

import json
import os
import re
import shutil
import subprocess
import tempfile
import threading
import time

from devtools import DevToolsError, WebSocket


def plain(remote):
    """A BiDi remote value as Python data."""
    kind, value = remote.get("type"), remote.get("value")
    if kind in ("undefined", "null"):
        return None
    if kind == "number" and isinstance(value, str):  # NaN, Infinity, -0
        return float(value)
    if kind in ("array", "set"):
        return [plain(v) for v in value]
    if kind in ("object", "map"):
        return {(k if isinstance(k, str) else plain(k)): plain(v) for k, v in value}
    return value


class Firefox:
    """One headless Firefox with one tab. Use as a context manager."""

    def __init__(self, firefox="firefox-esr", width=1280, height=900):
        self.profile = tempfile.mkdtemp(prefix="hitsieve-firefox-")
        with open(os.path.join(self.profile, "user.js"), "w") as f:
            # No first-run pages, updates or telemetry: the page under test is all that loads.
            for pref in ['"browser.shell.checkDefaultBrowser", false', '"app.update.disabledForTesting", true',
                         '"datareporting.policy.dataSubmissionEnabled", false',
                         '"browser.startup.homepage_override.mstone", "ignore"',
                         '"toolkit.telemetry.reportingpolicy.firstRun", false']:
                f.write(f"user_pref({pref});\n")
        self.process = subprocess.Popen(
            [firefox, "--headless", "--no-remote", "--profile", self.profile, "--remote-debugging-port", "0",
             f"--width={width}", f"--height={height}", "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        self.port = None
        self.ready = threading.Event()
        threading.Thread(target=self._read_stderr, daemon=True).start()
        self.next_id = 0
        self.entries = []
        self.prompts = []
        try:
            if not self.ready.wait(60) or self.port is None:
                raise DevToolsError("firefox did not open its WebDriver BiDi port within 60 s")
            self.ws = WebSocket("127.0.0.1", self.port, "/session")
            self.call("session.new", {"capabilities": {}})
            self.call("session.subscribe", {"events": ["log.entryAdded", "browsingContext.userPromptOpened"]})
            self.context = self.call("browsingContext.getTree", {})["contexts"][0]["context"]
        except BaseException:
            self.close()
            raise

    def _read_stderr(self):
        for line in self.process.stderr:
            m = re.search(r"WebDriver BiDi listening on ws://[^:]+:(\d+)", line)
            if m:
                self.port = int(m.group(1))
                self.ready.set()
        self.ready.set()

    def call(self, method, params):
        self.next_id += 1
        wanted = self.next_id
        self.ws.send(json.dumps({"id": wanted, "method": method, "params": params}))
        while True:
            message = json.loads(self.ws.receive())
            if message.get("id") == wanted:
                if message.get("type") == "error":
                    raise DevToolsError(f"{method}: {message.get('error')}: {message.get('message')}")
                return message.get("result", {})
            if message.get("method") == "log.entryAdded":
                self.entries.append(message["params"])
            elif message.get("method") == "browsingContext.userPromptOpened":
                self.prompts.append(message["params"])
                self.ws.send(json.dumps({"id": 0, "method": "browsingContext.handleUserPrompt",
                                         "params": {"context": self.context, "accept": False}}))

    def evaluate(self, expression):
        """The value of a JavaScript expression (JSON-like), or DevToolsError."""
        result = self.call("script.evaluate", {"expression": expression, "awaitPromise": True,
                                               "target": {"context": self.context}})
        if result.get("type") != "success":
            raise DevToolsError(f"{expression!r} threw: {result.get('exceptionDetails')}")
        return plain(result["result"])

    def wait_for(self, expression, timeout=10):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.evaluate(expression):
                return
            time.sleep(0.02)
        raise DevToolsError(f"timed out waiting for {expression}")

    def pump(self, seconds):
        """Reads events for a while (prompts and errors raised after the page was ready)."""
        self.evaluate(f"new Promise(r => setTimeout(r, {int(seconds * 1000)}))")

    @property
    def dialogs(self):
        return self.prompts

    def open(self, path, timeout=30):
        self.entries.clear()
        self.prompts.clear()
        start = time.monotonic()
        self.call("browsingContext.navigate", {"context": self.context, "url": "file://" + os.path.abspath(path),
                                               "wait": "complete"})
        while time.monotonic() - start < timeout:
            if self.evaluate("document.documentElement.dataset.ready === '1'"):
                return time.monotonic() - start
            time.sleep(0.05)
        raise DevToolsError(f"{path} was not ready within {timeout} s")

    def errors(self):
        return [f"{e.get('type')}: {e.get('text')}" for e in self.entries if e.get("level") == "error"]

    def close(self):
        if getattr(self, "ws", None):
            try:
                self.call("session.end", {})
            except (DevToolsError, OSError):
                pass
            self.ws.close()
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(15)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        shutil.rmtree(self.profile, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
