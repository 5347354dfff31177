"""Drives a headless Chromium through Selenium and Debian's chromedriver, for the report page's
tests, the screenshots and the page's load benchmark.

Besides running script in the page, it keeps what the tests check the page against: the
browser's log (console errors, uncaught exceptions and failed or blocked requests, all at level
SEVERE) and every JavaScript dialog, which is dismissed so that an alert() cannot hang the page
and is recorded when the next command meets it.
"""

import base64
import os
import shutil
import tempfile
import time

from selenium import webdriver
from selenium.common.exceptions import UnexpectedAlertPresentException, WebDriverException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.actions.action_builder import ActionBuilder

CHROMEDRIVER = os.environ.get("CHROMEDRIVER", "/usr/bin/chromedriver")
CHROMIUM_FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
    "--disable-component-update", "--disable-sync", "--no-first-run", "--disable-dev-shm-usage",
    "--hide-scrollbars", "--mute-audio",
]


class DriverError(RuntimeError):
    pass


class Browser:
    """One headless Chromium with one page. Use as a context manager."""

    def __init__(self, chromium="chromium", width=1280, height=900):
        self.profile = tempfile.mkdtemp(prefix="hitsieve-chromium-")
        options = webdriver.ChromeOptions()
        options.binary_location = shutil.which(chromium) or chromium
        for flag in CHROMIUM_FLAGS + [f"--user-data-dir={self.profile}",
                                      f"--window-size={width},{height}"]:
            options.add_argument(flag)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        options.set_capability("unhandledPromptBehavior", "dismiss and notify")
        self.dialogs = []
        self.entries = []
        self.driver = None
        try:
            self.driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
        except BaseException:
            self.close()
            raise

    def _command(self, run):
        """Runs one driver command; a dialog that was open is recorded, and the command tried
        again (the dialog has been dismissed by then)."""
        for _ in range(10):
            try:
                return run()
            except UnexpectedAlertPresentException as e:
                self.dialogs.append({"message": e.alert_text})
        raise DriverError("dialogs keep opening")

    def evaluate(self, expression):
        """The value of a JavaScript expression (a promise is awaited), or DriverError."""
        try:
            # Evaluated as a script, like the console does: statements may come before the value.
            return self._command(lambda: self.driver.execute_script(
                "return (0, eval)(arguments[0]);", expression))
        except UnexpectedAlertPresentException:
            raise
        except WebDriverException as e:
            raise DriverError(f"{expression!r} threw: {e.msg}") from None

    def open(self, path, ready="document.documentElement.dataset.ready === '1'", timeout=30):
        """Loads a local file and waits until `ready` is true; returns the seconds it took."""
        self._collect_log()
        self.entries.clear()
        self.dialogs.clear()
        start = time.monotonic()
        self._command(lambda: self.driver.get("file://" + os.path.abspath(path)))
        self.wait_for(ready, timeout)
        return time.monotonic() - start

    def wait_for(self, expression, timeout=10):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                if self.evaluate(expression):
                    return
            except DriverError:
                pass  # a document being replaced
            time.sleep(0.02)
        raise DriverError(f"timed out waiting for {expression}")

    def pump(self, seconds):
        """Lets the page run for a while (dialogs and errors raised after it was ready)."""
        self.evaluate(f"new Promise(r => setTimeout(r, {int(seconds * 1000)}))")

    def _collect_log(self):
        self.entries += self._command(lambda: self.driver.get_log("browser"))

    def errors(self):
        """Console errors, uncaught exceptions and failed requests seen since open()."""
        self.evaluate("0")  # meets a dialog still open
        self._collect_log()
        return [f"{e.get('source')}: {e.get('message', '')[:500]}" for e in self.entries
                if e.get("level") == "SEVERE"]

    def mouse(self, kind, x, y, buttons=0):
        """A real pointer event at (x, y) of the viewport: kind is mouseMoved, mousePressed or
        mouseReleased; a move with buttons drags."""
        def act():
            actions = ActionBuilder(self.driver, duration=0)
            actions.pointer_action.move_to_location(round(x), round(y))
            if kind == "mousePressed":
                actions.pointer_action.pointer_down()
            elif kind == "mouseReleased":
                actions.pointer_action.pointer_up()
            actions.perform()
        self._command(act)

    def screenshot(self, path, full_page=True):
        params = {"format": "png"}
        if full_page:
            size = self.evaluate("[document.documentElement.scrollWidth, document.documentElement.scrollHeight]")
            params.update({"captureBeyondViewport": True,
                           "clip": {"x": 0, "y": 0, "width": size[0], "height": size[1], "scale": 1}})
        data = self._command(lambda: self.driver.execute_cdp_cmd("Page.captureScreenshot", params))
        with open(path, "wb") as f:
            f.write(base64.b64decode(data["data"]))

    def close(self):
        if self.driver is not None:
            try:
                self.driver.quit()
            except WebDriverException:
                pass
            self.driver = None
        shutil.rmtree(self.profile, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
