"""The report page as headless Chromium leaves it after its script has run (--dump-dom).

Checks what the page's script decides on its own, whatever its data says: only http and https
addresses become links, referer links name the host they open, absurd days stay out of the
chart and the date fields, and an English page speaks English. Environment: HITSIEVE_CLI (the
tool), CHROMIUM (the browser). Standard library only.
"""

import html.parser
import json
import os
import re
import subprocess
import sys
import tempfile
import unittest

CLI = os.environ.get("HITSIEVE_CLI", "build/cli/hitsieve-cli")
CHROMIUM = os.environ.get("CHROMIUM", "chromium")

LOG = """\
1.2.3.4 - - [05/May/2009:10:00:00 +0400] "GET /a.html HTTP/1.1" 200 10 "javascript:alert(1)" "M"
1.2.3.4 - - [05/May/2009:10:00:00 +0400] "GET /a.html HTTP/1.1" 200 10 "JaVaScRiPt:alert(2)" "M"
1.2.3.4 - - [05/May/2009:10:00:00 +0400] "GET /a.html HTTP/1.1" 200 10 "data:text/html,<b>x</b>" "M"
1.2.3.5 - - [05/May/2009:10:00:00 +0400] "GET /a.html HTTP/1.1" 200 10 "https://www.%D0%B0pple.com/" "M"
1.2.3.6 - - [06/May/2009:10:00:00 +0400] "GET /a.html HTTP/1.1" 200 10 "https://www.google.com%2Fsearch%3Fq%3Dx@evil.example/" "M"
1.2.3.6 - - [06/May/2009:10:00:00 +0400] "GET /a.html HTTP/1.1" 200 10 "http://a.example/?q=%E2%80%AEgpj.exe" "M"
1.2.3.7 - - [01/Jan/0000:10:00:00 +0400] "GET /a.html HTTP/1.1" 200 10 "-" "M"
1.2.3.8 - - [31/Dec/9999:10:00:00 +0400] "GET /a.html HTTP/1.1" 200 10 "-" "M"
1.2.3.9 - - [05/May/0009:10:00:00 +0400] "GET /a.html HTTP/1.1" 200 10 "-" "M"
"""


class Dom(html.parser.HTMLParser):
    """Elements with their attributes and text, outside the page's script elements."""

    def __init__(self, text):
        super().__init__()
        self.elements, self.open, self.in_script = [], [], False
        self.feed(text)

    def handle_starttag(self, tag, attrs):
        self.in_script = tag == "script"
        element = {"tag": tag, "attrs": dict(attrs), "text": ""}
        self.elements.append(element)
        if tag not in ("input", "br", "meta", "link", "img"):
            self.open.append(element)

    def handle_endtag(self, tag):
        self.in_script = False
        while self.open and self.open.pop()["tag"] != tag:
            pass

    def handle_data(self, data):
        if not self.in_script:
            for element in self.open:
                element["text"] += data

    def find(self, tag, **attrs):
        return [e for e in self.elements
                if e["tag"] == tag and all(e["attrs"].get(k) == v for k, v in attrs.items())]


def run_cli(*args):
    result = subprocess.run([CLI, *args], capture_output=True, text=True)
    if result.returncode != 0:
        raise AssertionError(f"hitsieve-cli {' '.join(args)}: {result.stderr}")


def rendered(folder, page):
    """The page's DOM once its script has run, and what it wrote to the console."""
    result = subprocess.run(
        [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--enable-logging=stderr", "--v=0",
         f"--user-data-dir={os.path.join(folder, 'profile')}", "--virtual-time-budget=5000",
         "--dump-dom", "file://" + page],
        capture_output=True, text=True, timeout=120)
    console = [line for line in result.stderr.splitlines() if ":CONSOLE" in line]
    return result.stdout, console


class PageDom(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="hitsieve-dom-")
        log = os.path.join(cls.folder, "a.log")
        with open(log, "w") as f:
            f.write(LOG)
        cls.db = os.path.join(cls.folder, "s.dt")
        run_cli("analyse", "--db", cls.db, "--", log)

    def page(self, name, *options, edit=None):
        path = os.path.join(self.folder, name)
        run_cli("html", "--db", self.db, "--output", path, "--force", *options)
        if edit:
            with open(path, encoding="utf-8") as f:
                text = f.read()
            with open(path, "w", encoding="utf-8") as f:
                f.write(edit(text))
        dom, console = rendered(self.folder, path)
        self.assertEqual([], console, "console messages")
        self.assertIn('data-ready="1"', dom, "the script finished")
        return Dom(dom)

    def test_only_web_addresses_become_links_whatever_the_data_says(self):
        # The data block flags every referer as a link; the script must still refuse the others.
        def flag_all(text):
            start = text.index('id="report-data">') + len('id="report-data">')
            end = text.index("</script>", start)
            data = json.loads(text[start:end])
            for row in data["referers"]:
                row[2] = 1
            block = json.dumps(data, ensure_ascii=True).replace("<", "\\u003c").replace(">", "\\u003e")
            return text[:start] + block + text[end:]

        dom = self.page("flagged.html", edit=flag_all)
        hrefs = [a["attrs"]["href"] for a in dom.find("a") if "href" in a["attrs"]]
        for href in hrefs:
            self.assertRegex(href, r"(?i)^(https?://|#)")
        cells = [td["text"] for td in dom.find("td")]
        for shown in ("javascript:alert(1)", "JaVaScRiPt:alert(2)", "data:text/html,<b>x</b>"):
            self.assertIn(shown, cells, "shown as text")
        self.assertEqual([], dom.find("b"))

    def test_referer_links_name_the_host_they_open(self):
        dom = self.page("links.html")
        links = {a["attrs"]["href"]: a["text"] for a in dom.find("a") if not a["attrs"]["href"].startswith("#")}
        self.assertEqual("https://www.xn--pple-43d.com/", links["https://www.%D0%B0pple.com/"])
        evil = "https://www.google.com%2Fsearch%3Fq%3Dx@evil.example/"
        self.assertEqual(evil, links[evil])
        self.assertEqual("http://a.example/?q=\ufffdgpj.exe", links["http://a.example/?q=%E2%80%AEgpj.exe"])

    def test_absurd_days_stay_out_of_the_chart_and_the_date_fields(self):
        dom = self.page("days.html")
        for field in ("range-from", "range-to"):
            attrs = dom.find("input", id=field)[0]["attrs"]
            self.assertEqual(("2009-05-05", "2009-05-06"), (attrs["min"], attrs["max"]), field)
        self.assertEqual("2", dom.find("div", id="chart")[0]["attrs"]["data-days"])
        self.assertEqual("2", dom.find("div", id="panel-status-chart")[0]["attrs"]["data-days"])
        self.assertRegex(dom.find("p", id="chart-left-out")[0]["text"], r"\b3\b")
        labels = " ".join(t["text"] for t in dom.find("text"))
        self.assertNotRegex(labels, r"19\d\d|/0000|/9999")
        self.assertRegex(dom.find("dd", id="sum-days")[0]["text"], r"^2\b.*\b3\b")
        # The table still lists every day, with its four-digit year.
        cells = [td["text"] for td in dom.find("td")]
        for day in ("05/May/0009", "01/Jan/0000", "31/Dec/9999"):
            self.assertIn(day, cells)

    def test_an_english_page_speaks_english(self):
        dom = self.page("english.html", "--lang", "en")
        self.assertEqual("en", dom.find("html")[0]["attrs"]["lang"])
        self.assertEqual("Filter", dom.find("input", **{"class": "filter"})[0]["attrs"]["placeholder"])
        body = dom.find("main")[0]["text"]
        self.assertIn("Total", body)
        self.assertIsNone(re.search("[А-Яа-яЁё]", body), body)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
