"""Drives a headless Chromium through its DevTools protocol, with Python's standard library only.

Chromium is started with a DevTools port of its own choosing (read back from the profile folder);
the page target is reached over a WebSocket implemented here (client frames masked, server frames
read whole, fragments joined). Events that tests care about are kept: console messages, uncaught
exceptions, log entries (a blocked request or a policy violation shows up there) and JavaScript
dialogs, which are recorded and dismissed so that an alert() cannot hang the page.
"""

import base64
import http.client
import json
import os
import shutil
import socket
import struct
import subprocess
import tempfile
import time

CHROMIUM_FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
    "--disable-component-update", "--disable-sync", "--no-first-run", "--disable-dev-shm-usage",
    "--hide-scrollbars", "--mute-audio", "--remote-debugging-port=0",
]


class DevToolsError(RuntimeError):
    pass


class WebSocket:
    def __init__(self, host, port, path):
        self.sock = socket.create_connection((host, port), timeout=60)
        key = base64.b64encode(os.urandom(16)).decode()
        request = (f"GET {path} HTTP/1.1\r\nHost: {host}:{port}\r\nUpgrade: websocket\r\n"
                   f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\n"
                   "Sec-WebSocket-Version: 13\r\n\r\n")
        self.sock.sendall(request.encode())
        self.buffer = b""
        while b"\r\n\r\n" not in self.buffer:
            chunk = self.sock.recv(4096)
            if not chunk:
                raise DevToolsError("connection closed during the WebSocket handshake")
            self.buffer += chunk
        head, self.buffer = self.buffer.split(b"\r\n\r\n", 1)
        if b" 101 " not in head.split(b"\r\n", 1)[0]:
            raise DevToolsError("WebSocket handshake refused: " + head.decode(errors="replace"))

    def send(self, text):
        payload = text.encode()
        header = bytearray([0x81])  # final frame, text
        if len(payload) < 126:
            header.append(0x80 | len(payload))
        elif len(payload) < 1 << 16:
            header.append(0x80 | 126)
            header += struct.pack(">H", len(payload))
        else:
            header.append(0x80 | 127)
            header += struct.pack(">Q", len(payload))
        mask = os.urandom(4)
        masked = bytes(b ^ mask[i % 4] for i, b in enumerate(payload))
        self.sock.sendall(bytes(header) + mask + masked)

    def _read(self, n):
        while len(self.buffer) < n:
            chunk = self.sock.recv(1 << 20)
            if not chunk:
                raise DevToolsError("DevTools connection closed")
            self.buffer += chunk
        data, self.buffer = self.buffer[:n], self.buffer[n:]
        return data

    def receive(self):
        message = b""
        while True:
            b0, b1 = self._read(2)
            length = b1 & 0x7F
            if length == 126:
                length = struct.unpack(">H", self._read(2))[0]
            elif length == 127:
                length = struct.unpack(">Q", self._read(8))[0]
            if b1 & 0x80:
                mask = self._read(4)
                data = bytes(b ^ mask[i % 4] for i, b in enumerate(self._read(length)))
            else:
                data = self._read(length)
            opcode = b0 & 0x0F
            if opcode == 8:
                raise DevToolsError("DevTools connection closed by the browser")
            if opcode in (9, 10):  # ping, pong: nothing to do for a short-lived client
                continue
            message += data
            if b0 & 0x80:
                return message.decode()

    def close(self):
        self.sock.close()


class Browser:
    """One headless Chromium with one page. Use as a context manager."""

    def __init__(self, chromium="chromium", width=1280, height=900):
        self.profile = tempfile.mkdtemp(prefix="hitsieve-chromium-")
        args = [chromium, *CHROMIUM_FLAGS, f"--user-data-dir={self.profile}",
                f"--window-size={width},{height}", "about:blank"]
        self.process = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.next_id = 0
        self.events = []
        self.dialogs = []
        try:
            self.ws = WebSocket("127.0.0.1", self._port(), self._page_path())
            for domain in ("Page", "Runtime", "Log"):
                self.call(domain + ".enable")
        except BaseException:
            self.close()
            raise

    def _port(self):
        port_file = os.path.join(self.profile, "DevToolsActivePort")
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise DevToolsError(f"chromium exited with status {self.process.returncode}")
            try:
                with open(port_file) as f:
                    lines = f.read().split()
                if lines:
                    return int(lines[0])
            except (FileNotFoundError, ValueError):
                pass
            time.sleep(0.05)
        raise DevToolsError("chromium did not open its DevTools port within 30 s")

    def _page_path(self):
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            conn = http.client.HTTPConnection("127.0.0.1", self._port(), timeout=10)
            conn.request("GET", "/json/list")
            targets = json.loads(conn.getresponse().read())
            conn.close()
            pages = [t for t in targets if t.get("type") == "page"]
            if pages:
                url = pages[0]["webSocketDebuggerUrl"]
                return url[url.index("/devtools/"):]
            time.sleep(0.1)
        raise DevToolsError("no page target")

    def _handle_event(self, message):
        self.events.append(message)
        if message.get("method") == "Page.javascriptDialogOpening":
            self.dialogs.append(message["params"])
            self.send("Page.handleJavaScriptDialog", {"accept": False})

    def send(self, method, params=None):
        self.next_id += 1
        self.ws.send(json.dumps({"id": self.next_id, "method": method, "params": params or {}}))
        return self.next_id

    def call(self, method, params=None):
        wanted = self.send(method, params)
        while True:
            message = json.loads(self.ws.receive())
            if message.get("id") == wanted:
                if "error" in message:
                    raise DevToolsError(f"{method}: {message['error']}")
                return message.get("result", {})
            if "method" in message:
                self._handle_event(message)

    def evaluate(self, expression):
        """The value of a JavaScript expression (JSON-serialisable), or DevToolsError."""
        result = self.call("Runtime.evaluate", {"expression": expression, "returnByValue": True,
                                                "awaitPromise": True})
        if "exceptionDetails" in result:
            raise DevToolsError(f"{expression!r} threw: {result['exceptionDetails']}")
        return result["result"].get("value")

    def open(self, path, ready="document.documentElement.dataset.ready === '1'", timeout=30):
        """Loads a local file and waits until `ready` is true; returns the seconds it took."""
        self.events.clear()
        self.dialogs.clear()
        start = time.monotonic()
        self.call("Page.navigate", {"url": "file://" + os.path.abspath(path)})
        while time.monotonic() - start < timeout:
            try:
                if self.evaluate(ready):
                    return time.monotonic() - start
            except DevToolsError:
                pass  # the new document may not exist yet
            time.sleep(0.02)
        raise DevToolsError(f"{path} was not ready within {timeout} s")

    def wait_for(self, expression, timeout=10):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.evaluate(expression):
                return
            time.sleep(0.02)
        raise DevToolsError(f"timed out waiting for {expression}")

    def pump(self, seconds):
        """Reads events for a while (dialogs and errors raised after the page was ready)."""
        self.evaluate(f"new Promise(r => setTimeout(r, {int(seconds * 1000)}))")

    def errors(self):
        """Console errors, uncaught exceptions and error log entries seen since open()."""
        found = []
        for e in self.events:
            method, params = e.get("method"), e.get("params", {})
            if method == "Runtime.exceptionThrown":
                found.append("exception: " + json.dumps(params["exceptionDetails"])[:500])
            elif method == "Runtime.consoleAPICalled" and params.get("type") in ("error", "assert"):
                found.append("console: " + json.dumps(params.get("args"))[:500])
            elif method == "Log.entryAdded" and params["entry"].get("level") == "error":
                found.append("log: " + params["entry"].get("text", "")[:500])
        return found

    def mouse(self, kind, x, y, buttons=0):
        self.call("Input.dispatchMouseEvent", {"type": kind, "x": x, "y": y, "button": "left" if kind != "mouseMoved" or buttons else "none",
                                                "buttons": buttons, "clickCount": 1})

    def screenshot(self, path, full_page=True):
        params = {"format": "png"}
        if full_page:
            size = self.evaluate("[document.documentElement.scrollWidth, document.documentElement.scrollHeight]")
            params.update({"captureBeyondViewport": True,
                           "clip": {"x": 0, "y": 0, "width": size[0], "height": size[1], "scale": 1}})
        data = self.call("Page.captureScreenshot", params)["data"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))

    def close(self):
        if getattr(self, "ws", None):
            self.ws.close()
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        shutil.rmtree(self.profile, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
