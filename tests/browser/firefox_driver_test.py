"""The Firefox driver (firefox.py) against pages that misbehave on purpose: every kind of fault
the report page's tests look for must reach them, or those tests could not fail in Firefox.
Environment: FIREFOX (the browser, /usr/bin/firefox-esr by default).
"""

import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from firefox import DriverError, Firefox  # noqa: E402

FIREFOX = os.environ.get("FIREFOX", "/usr/bin/firefox-esr")

FAULTS = """<!DOCTYPE html><html><head><meta charset="utf-8">{policy}</head><body><script>
document.title = 'faults';
console.error('broken: ' + location.hash);
alert('from the log');
{extra}
setTimeout(() => {{ document.documentElement.dataset.ready = '1'; throw new Error('late failure'); }}, 0);
</script></body></html>"""


class FirefoxDriverSeesFaults(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.TemporaryDirectory(prefix="hitsieve-firefox-driver-")
        cls.browser = Firefox(FIREFOX)

    @classmethod
    def tearDownClass(cls):
        cls.browser.close()
        cls.folder.cleanup()

    def page(self, name, policy="", extra=""):
        path = os.path.join(self.folder.name, name)
        with open(path, "w") as f:
            f.write(FAULTS.format(policy=policy, extra=extra))
        return path

    def test_errors_dialogs_and_outgoing_requests_are_reported(self):
        self.browser.open(self.page("open.html", extra="fetch('http://192.0.2.1/leak').catch(() => {});"))
        self.browser.pump(0.2)
        self.assertEqual("faults", self.browser.evaluate("document.title"))
        self.assertEqual([{"type": "alert", "message": "from the log"}], self.browser.dialogs)
        errors = self.browser.errors()
        self.assertIn("console: broken: ", errors)
        self.assertTrue(any(e.startswith("exception:") and "late failure" in e for e in errors), errors)
        self.assertIn("request: http://192.0.2.1/leak", errors)

    def test_requests_the_policy_blocks_are_reported_and_state_is_reset_per_page(self):
        policy = "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; script-src 'unsafe-inline'\">"
        extra = "const i = document.createElement('img'); i.src = 'http://192.0.2.1/pixel.png'; document.body.append(i);"
        self.browser.open(self.page("policy.html", policy, extra))
        self.browser.wait_for("document.title === 'faults'")
        self.browser.pump(0.2)
        self.assertTrue(any("Content-Security-Policy blocked http://192.0.2.1/pixel.png" in e
                            for e in self.browser.errors()), self.browser.errors())
        self.assertEqual(1, len(self.browser.dialogs))  # this page's alert only

    def test_a_failing_expression_and_a_state_never_reached_raise(self):
        self.browser.open(self.page("plain.html"))
        with self.assertRaises(DriverError):
            self.browser.evaluate("no_such_name.x")
        with self.assertRaises(DriverError):
            self.browser.wait_for("document.title === 'never'", timeout=0.5)
        self.assertEqual(7, self.browser.evaluate("Promise.resolve(3).then(x => x + 4)"))


if __name__ == "__main__":
    unittest.main()
