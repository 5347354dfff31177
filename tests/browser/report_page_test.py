"""The report page in a real browser: hitsieve-cli writes it, headless Chromium runs its script
(driven through Selenium and chromedriver, see driver.py).

Expected values are worked out here from the page's own data block (and from the logs the tests
write), not from the page's script. Environment: HITSIEVE_CLI (the tool), CHROMIUM (the browser),
HITSIEVE_TEST_DATA (tests/data). Run one class at a time: report_page_test.py SampleReport.
"""

import base64
import gzip
import json
import math
import os
import subprocess
import sys
import tempfile
import unittest
from urllib.parse import unquote_plus

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from driver import Browser  # noqa: E402
from firefox import Firefox  # noqa: E402

CLI = os.environ.get("HITSIEVE_CLI", "build/cli/hitsieve-cli")
CHROMIUM = os.environ.get("CHROMIUM", "chromium")
FIREFOX = os.environ.get("FIREFOX", "/usr/bin/firefox-esr")
DATA = os.environ.get("HITSIEVE_TEST_DATA", "tests/data")
MONTHS = "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec".split()


def run_cli(*args):
    result = subprocess.run([CLI, *args], capture_output=True, text=True)
    if result.returncode != 0:
        raise AssertionError(f"hitsieve-cli {' '.join(args)}: {result.returncode}\n{result.stderr}")


def make_page(folder, logs, name="report.html"):
    db = os.path.join(folder, name + ".dt")
    run_cli("analyse", "--db", db, "--", *logs)
    page = os.path.join(folder, name)
    run_cli("html", "--db", db, "--output", page)
    return page


def read_data(element):
    """The report's data from the text and data-encoding of its element, decoded here."""
    text, encoding = element
    if encoding == "gzip-base64":
        text = gzip.decompress(base64.b64decode(text)).decode()
    else:
        assert encoding == "", encoding
    return json.loads(text)


def calendar_key(day):
    d, m, y = day.split("/")
    return (int(y), MONTHS.index(m), int(d))


class PageTest(unittest.TestCase):
    """One browser for the class; each test opens the page afresh and checks it stayed clean."""

    logs = []

    @staticmethod
    def make_browser():
        return Browser(CHROMIUM)

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="hitsieve-page-")
        cls.page = make_page(cls.folder, cls.prepare_logs(cls.folder))
        cls.browser = cls.make_browser()

    @classmethod
    def prepare_logs(cls, folder):
        return [os.path.join(DATA, log) for log in cls.logs]

    @classmethod
    def tearDownClass(cls):
        cls.browser.close()

    def setUp(self):
        self.browser.open(self.page)
        self.data = read_data(self.js("[document.getElementById('report-data').textContent,"
                                      " document.getElementById('report-data').dataset.encoding || '']"))
        # Robot hits name their crawler and day by index.
        self.data["robots"] = [[self.data["crawlers"][r[0]][0], r[1], r[2], r[3], self.data["robotDays"][r[4]]]
                               for r in self.data["robots"]]

    def tearDown(self):
        self.browser.pump(0.2)
        self.assertEqual([], self.browser.errors(), "console errors")
        self.assertEqual([], self.browser.dialogs, "dialogs opened")

    def js(self, expression):
        return self.browser.evaluate(expression)

    def table(self, name):
        """rows, page, pages and the visible cell texts of one table."""
        return self.js(f"""(() => {{
            const host = document.getElementById('{name}-table');
            return {{rows: +host.dataset.rows, page: +host.dataset.page, pages: +host.dataset.pages,
                     cells: [...host.querySelectorAll('tbody:not(.totals) tr:not(.empty)')]
                              .map(tr => [...tr.cells].map(td => td.textContent)),
                     totals: [...host.querySelectorAll('tbody.totals td')].map(td => td.textContent)}};
        }})()""")

    def click_header(self, name, column):
        self.js(f"document.querySelectorAll('#{name}-table th')[{column}].click()")

    def filter(self, name, text):
        # The box applies its text once typing pauses, through a timer: the timer its input
        # handler starts is marked, and the test waits for that timer to have run.
        self.js(f"""(() => {{ const box = document.querySelector('#{name}-table .filter');
            const start = window.setTimeout;
            window.filterApplied = false;
            window.setTimeout = (run, ms) => {{
                window.setTimeout = start;
                return start(() => {{ run(); window.filterApplied = true; }}, ms);
            }};
            box.value = {json.dumps(text)};
            try {{ box.dispatchEvent(new Event('input')); }} finally {{ window.setTimeout = start; }}
        }})()""")
        self.browser.wait_for("window.filterApplied === true")


class SampleReport(PageTest):
    logs = ["sample.log.gz"]

    def test_every_table_holds_every_row_a_page_at_a_time(self):
        for name, key in [("days", "days"), ("pages", "pages"), ("queries", "queries"),
                          ("hosts", "hosts"), ("referers", "referers"), ("robots", "robots")]:
            with self.subTest(table=name):
                t = self.table(name)
                total = len(self.data[key])
                self.assertGreater(total, 0)
                size = 100 if name == "days" else 50
                self.assertEqual(total, t["rows"])
                self.assertEqual(max(1, math.ceil(total / size)), t["pages"])
                self.assertEqual(min(size, total), len(t["cells"]))
        # Paging the robot log: the last page holds the rest, and all pages together every row.
        t = self.table("robots")
        seen = []
        for page in range(t["pages"]):
            seen += self.table("robots")["cells"]
            self.js("document.querySelectorAll('#robots-table .pager button')[2].click()")
        self.assertEqual(len(self.data["robots"]), len(seen))
        self.assertEqual(sorted(json.dumps([r[0], r[1], str(r[2]), r[3], r[4]]) for r in self.data["robots"]),
                         sorted(json.dumps(c) for c in seen))

    def test_totals_rows_match_the_summary_and_the_data(self):
        days = self.table("days")
        hosts = sum(r[1] for r in self.data["days"])
        views = sum(r[3] for r in self.data["days"])
        self.assertEqual(str(hosts), days["totals"][1])
        self.assertEqual(str(views), days["totals"][3])
        summary = self.js("document.getElementById('sum-hosts').textContent").replace("\u202f", "")
        self.assertEqual(str(hosts), summary)
        pages = self.table("pages")
        mb = "%.2f" % (sum(r[3] for r in self.data["pages"]) / 1048576)
        self.assertEqual(mb.replace(".", ","), pages["totals"][3])

    def test_sorting_numbers_by_value_and_texts_ignoring_case(self):
        self.js("document.querySelector('#pages-table .page-size').value = '1000';"
                "document.querySelector('#pages-table .page-size').dispatchEvent(new Event('change'))")
        self.click_header("pages", 1)  # visits: biggest first
        visits = [int(c[1]) if c[1] != "-" else 0 for c in self.table("pages")["cells"]]
        self.assertEqual(sorted(visits, reverse=True), visits)
        self.click_header("pages", 1)
        visits = [int(c[1]) if c[1] != "-" else 0 for c in self.table("pages")["cells"]]
        self.assertEqual(sorted(visits), visits)
        self.click_header("pages", 3)  # traffic sorts by bytes, not by its text
        traffic = [float(c[3].replace(",", ".")) for c in self.table("pages")["cells"]]
        self.assertEqual(sorted(traffic, reverse=True), traffic)
        self.click_header("pages", 0)
        names = [c[0] for c in self.table("pages")["cells"]]
        self.assertEqual(sorted(names, key=str.lower), names)
        self.assertNotEqual(sorted(names), names, "the sample has pages that differ in case only")

    def test_filter_is_case_insensitive_and_spans_pages(self):
        for needle in ["NEWS", "index", "zzz-nothing"]:
            with self.subTest(needle=needle):
                self.filter("pages", needle)
                expected = [r for r in self.data["pages"] if needle.lower() in r[0].lower()]
                t = self.table("pages")
                self.assertEqual(len(expected), t["rows"])
                self.assertTrue(all(needle.lower() in c[0].lower() for c in t["cells"]))
        self.filter("referers", "GOOGLE")
        expected = [r for r in self.data["referers"] if "google" in unquote_plus(r[0]).lower()]
        self.assertEqual(len(expected), self.table("referers")["rows"])
        self.filter("robots", "yandex")
        self.assertEqual(sum(1 for r in self.data["robots"] if "yandex" in (r[0] + r[1] + r[3] + r[4]).lower()),
                         self.table("robots")["rows"])

    def test_referers_link_only_to_web_addresses(self):
        links = self.js("[...document.querySelectorAll('#referers-table a')].map(a => [a.getAttribute('href'), a.rel])")
        self.assertTrue(links)
        for href, rel in links:
            self.assertRegex(href, r"(?i)^https?://")
            self.assertEqual("noopener noreferrer nofollow", rel)

    def test_crawler_panels_count_each_crawler(self):
        panels = self.js("""[...document.querySelectorAll('.crawler')].map(p => ({
            name: p.dataset.crawler, bars: p.querySelectorAll('svg rect').length,
            codes: [...p.querySelectorAll('.codes tr')].slice(1).map(tr => [+tr.cells[0].textContent,
                    +tr.cells[1].textContent.replace(/\\u202f/g, '')])}))""")
        by_name = {}
        for r in self.data["robots"]:
            by_name.setdefault(r[0], []).append(r)
        self.assertEqual(sorted(by_name), [p["name"] for p in panels])
        for p in panels:
            rows = by_name[p["name"]]
            self.assertEqual(len({r[4] for r in rows}), p["bars"], p["name"])
            codes = {}
            for r in rows:
                codes[r[2]] = codes.get(r[2], 0) + 1
            self.assertEqual(sorted(codes.items()), [tuple(c) for c in p["codes"]], p["name"])


class CalendarReport(PageTest):
    """Days whose byte order is not their calendar order, for sorting and the date range."""

    DAYS = ["31/Dec/2008", "01/Jan/2009", "02/Jan/2009", "10/Jan/2009", "01/Feb/2009",
            "15/Feb/2009", "28/Feb/2009", "01/Mar/2009"]

    @classmethod
    def prepare_logs(cls, folder):
        lines = []
        for i, day in enumerate(cls.DAYS):
            for k in range(i + 1):
                lines.append(f'10.0.{i}.{k} - - [{day}:10:00:00 +0300] "GET /p{k}.html HTTP/1.1" 200 10 '
                             f'"-" "Mozilla/5.0"\n')
                lines.append(f'66.249.0.{k} - - [{day}:11:00:00 +0300] "GET /r{k}.html HTTP/1.1" 200 10 '
                             f'"-" "Googlebot/2.1"\n')
        path = os.path.join(folder, "calendar.log.gz")
        with gzip.open(path, "wt") as f:
            f.writelines(lines)
        return [path]

    def chart_days(self):
        return self.js("""(() => { const line = document.querySelector('#chart polyline');
            return [+document.getElementById('chart').dataset.days,
                    line ? line.getAttribute('points').split(' ').length : 0]; })()""")

    def test_days_sort_by_calendar(self):
        shown = [c[0] for c in self.table("days")["cells"]]
        self.assertEqual(self.DAYS, shown)  # the page opens in calendar order
        self.click_header("days", 0)
        self.assertEqual(self.DAYS[::-1], [c[0] for c in self.table("days")["cells"]])
        robot_days = [c[4] for c in self.table("robots")["cells"]]
        self.assertEqual(sorted(robot_days, key=calendar_key), robot_days)
        self.click_header("robots", 4)
        robot_days = [c[4] for c in self.table("robots")["cells"]]
        self.assertEqual(sorted(robot_days, key=calendar_key, reverse=True), robot_days)

    def test_date_fields_limit_the_chart_and_the_table(self):
        self.assertEqual([8, 8], self.chart_days())
        self.js("""(() => { const from = document.getElementById('range-from'), to = document.getElementById('range-to');
            from.value = '2009-01-01'; to.value = '2009-02-01';
            from.dispatchEvent(new Event('change')); to.dispatchEvent(new Event('change')); })()""")
        self.assertEqual([4, 4], self.chart_days())
        t = self.table("days")
        self.assertEqual(["01/Jan/2009", "02/Jan/2009", "10/Jan/2009", "01/Feb/2009"], [c[0] for c in t["cells"]])
        self.assertEqual(str(2 + 3 + 4 + 5), t["totals"][3])  # views of the four days
        self.js("document.getElementById('range-reset').click()")
        self.assertEqual([8, 8], self.chart_days())
        self.assertEqual(8, self.table("days")["rows"])

    def test_drag_on_the_chart_selects_a_range(self):
        box = self.js("""(() => { const r = document.querySelector('#chart .overlay').getBoundingClientRect();
            window.scrollTo(0, 0); return [r.left, r.top, r.width, r.height]; })()""")
        self.js("document.querySelector('#chart .overlay').scrollIntoView({block: 'center'})")
        box = self.js("""(() => { const r = document.querySelector('#chart .overlay').getBoundingClientRect();
            return [r.left, r.top, r.width, r.height]; })()""")
        y = box[1] + box[3] / 2
        x0, x1 = box[0] + 2, box[0] + box[2] * 0.45  # from the first day to about mid-January
        self.browser.mouse("mouseMoved", x0, y)
        self.browser.mouse("mousePressed", x0, y, buttons=1)
        for step in range(1, 6):
            self.browser.mouse("mouseMoved", x0 + (x1 - x0) * step / 5, y, buttons=1)
        self.browser.mouse("mouseReleased", x1, y)
        fields = self.js("[document.getElementById('range-from').value, document.getElementById('range-to').value]")
        self.assertEqual("2008-12-31", fields[0])
        self.assertTrue("2009-01-01" <= fields[1] < "2009-03-01", fields)
        days, points = self.chart_days()
        self.assertLess(days, 8)
        self.assertEqual(days, points)
        self.assertEqual(days, self.table("days")["rows"])

    def test_hover_shows_the_values_of_a_day(self):
        box = self.js("""(() => { const o = document.querySelector('#chart .overlay');
            o.scrollIntoView({block: 'center'}); const r = o.getBoundingClientRect();
            return [r.left, r.top, r.width, r.height]; })()""")
        self.browser.mouse("mouseMoved", box[0] + box[2] - 1, box[1] + box[3] / 2)
        tip = self.js("document.querySelector('#chart .tip').hidden ? null : document.querySelector('#chart .tip').innerText")
        self.assertIsNotNone(tip)
        self.assertIn("01/Mar/2009", tip)
        self.assertIn("Просмотры: 8", tip)


class PanelReport(PageTest):
    """The panels of the dimension reports over a small log whose counts are known."""

    # day, hour, status, url, referer, how many
    LINES = [
        ("01/Mar/2009", 10, 200, "/p.html", "-", 3),
        ("01/Mar/2009", 10, 404, "/missing.html", "http://a.example/", 1),
        ("01/Mar/2009", 11, 500, "/p.html", "-", 1),
        ("02/Mar/2009", 14, 200, "/p.html", "-", 2),
        ("02/Mar/2009", 14, 301, "/old.html", "-", 1),
        ("02/Mar/2009", 15, 404, "/missing.html", "http://b.example/", 2),
        ("05/Mar/2009", 23, 200, "/q.html", "-", 4),
        ("05/Mar/2009", 23, 404, "/</script><b>x</b>.html", "http://c.example/<i>y</i>", 1),
        ("05/Mar/2009", 9, 410, "/gone.html", "-", 1),
    ]
    # Per day and status class: robots' requests count nowhere.
    CLASSES = {("01/Mar/2009", "2xx"): 3, ("01/Mar/2009", "4xx"): 1, ("01/Mar/2009", "5xx"): 1,
               ("02/Mar/2009", "2xx"): 2, ("02/Mar/2009", "3xx"): 1, ("02/Mar/2009", "4xx"): 2,
               ("05/Mar/2009", "2xx"): 4, ("05/Mar/2009", "4xx"): 2}

    @classmethod
    def prepare_logs(cls, folder):
        lines = []
        for day, hour, status, url, referer, count in cls.LINES:
            for k in range(count):
                lines.append(f'10.0.0.{k} - - [{day}:{hour:02d}:00:00 +0300] "GET {url} HTTP/1.1" {status} 10 '
                             f'"{referer}" "Mozilla/5.0"\n')
                lines.append(f'66.249.0.{k} - - [{day}:{hour:02d}:30:00 +0300] "GET {url} HTTP/1.1" {status} 10 '
                             f'"-" "Googlebot/2.1"\n')
        path = os.path.join(folder, "panels.log")
        with open(path, "w") as f:
            f.writelines(lines)
        return [path]

    def panel(self, name):
        return next(p for p in self.data["panels"] if p["name"] == name)

    def bars(self, name):
        return self.js(f"""[...document.querySelectorAll('#panel-{name}-chart rect')].map(r => {{
            const d = {{}}; for (const a of r.attributes) if (a.name.startsWith('data-')) d[a.name.slice(5)] = a.value;
            return d; }})""")

    def set_range(self, first, last):
        self.js(f"""(() => {{ const from = document.getElementById('range-from'), to = document.getElementById('range-to');
            from.value = '{first}'; to.value = '{last}';
            from.dispatchEvent(new Event('change')); to.dispatchEvent(new Event('change')); }})()""")

    def hour_views(self, inside=lambda day: True):
        """Views per hour worked out here from the page's daily rows."""
        hours = self.panel("hours")
        views = [0] * 24
        for row in hours["daily"]:
            if inside(hours["days"][row[0]]):
                views[row[1]] += row[2]
        return views

    def test_every_panel_renders_its_report(self):
        names = self.js("[...document.querySelectorAll('section.panel')].map(s => [s.id, s.dataset.counted])")
        self.assertEqual([["panel-" + p["name"], "1"] for p in self.data["panels"]], names)
        for p in self.data["panels"]:
            with self.subTest(panel=p["name"]):
                t = self.table("panel-" + p["name"])
                self.assertEqual(len(p["rows"]), t["rows"])
                shown = [c[:len(p["columns"])] for c in t["cells"]]
                self.assertEqual([[str(v) for v in row] for row in p["rows"]][:25], shown)
        status = {c[0]: c for c in self.table("panel-status")["cells"]}
        self.assertEqual(["404", "4", "25,00"], status["404"][:3])  # 4 of the 16 requests
        notfound = self.table("panel-notfound")["cells"]
        self.assertEqual(["/missing.html", "3", "http://b.example/"], notfound[0])
        self.assertIn(["/</script><b>x</b>.html", "1", "http://c.example/<i>y</i>"], notfound)
        self.assertEqual(0, self.js("document.querySelectorAll('main b, main i').length"))

    def test_status_classes_stack_per_day(self):
        bars = self.bars("status")
        self.assertEqual(self.CLASSES, {(b["day"], b["category"]): int(b["value"]) for b in bars})
        self.assertEqual(len(self.CLASSES), len(bars))
        # Stacked: on each day the classes sit on one another, without gaps.
        spans = self.js("""[...document.querySelectorAll('#panel-status-chart rect')].map(r =>
            [r.dataset.day, +r.getAttribute('x'), +r.getAttribute('y'), +r.getAttribute('height')])""")
        for day in {b["day"] for b in bars}:
            stack = sorted((y, h) for d, x, y, h in spans if d == day)
            for (y0, h0), (y1, h1) in zip(stack, stack[1:]):
                self.assertAlmostEqual(y0 + h0, y1, places=3)
        # A class hidden by its legend button leaves the stacks; a second click brings it back.
        self.js("document.querySelector('#panel-status-chart button[data-category=\"2xx\"]').click()")
        self.assertEqual({k: v for k, v in self.CLASSES.items() if k[1] != "2xx"},
                         {(b["day"], b["category"]): int(b["value"]) for b in self.bars("status")})
        self.js("document.querySelector('#panel-status-chart button[data-category=\"2xx\"]').click()")
        self.assertEqual(len(self.CLASSES), len(self.bars("status")))

    def test_hours_show_views_per_hour(self):
        views = self.hour_views()
        self.assertGreaterEqual(views[23], 4)
        bars = {int(b["hour"]): int(b["value"]) for b in self.bars("hours")}
        self.assertEqual({h: v for h, v in enumerate(views) if v}, bars)
        table = self.table("panel-hours")
        self.assertEqual(24, table["rows"])
        self.assertEqual([str(v) for v in views], [c[1] for c in table["cells"]])

    def test_date_range_limits_the_panels_with_days(self):
        self.set_range("2009-03-02", "2009-03-05")
        bars = self.bars("status")
        self.assertEqual({k: v for k, v in self.CLASSES.items() if k[0] != "01/Mar/2009"},
                         {(b["day"], b["category"]): int(b["value"]) for b in bars})
        status = {c[0]: c[1] for c in self.table("panel-status")["cells"]}
        self.assertEqual({"200": "6", "301": "1", "404": "3", "410": "1"}, status)
        views = self.hour_views(lambda day: day != "01/Mar/2009")
        self.assertEqual(0, views[10])
        self.assertEqual([str(v) for v in views], [c[1] for c in self.table("panel-hours")["cells"]])
        self.assertEqual({h: v for h, v in enumerate(views) if v},
                         {int(b["hour"]): int(b["value"]) for b in self.bars("hours")})
        self.assertEqual("1", self.js("document.getElementById('panel-status').dataset.limited"))
        # Pages not found have no days: the panel keeps the whole period and says so.
        self.assertEqual("0", self.js("document.getElementById('panel-notfound').dataset.limited"))
        self.assertEqual(3, int(self.table("panel-notfound")["cells"][0][1]))
        self.js("document.getElementById('range-reset').click()")
        self.assertEqual(self.CLASSES, {(b["day"], b["category"]): int(b["value"])
                                        for b in self.bars("status")})

    def test_summary_of_the_period(self):
        figure = lambda name: self.js(f"document.getElementById('sum-{name}').textContent").replace("\u202f", "")
        self.assertEqual("5", figure("notfound"))
        self.assertEqual("50,0\u00a0%", figure("bots"))  # every request made twice, once by a robot


def add_panels(page, panels, name):
    """A copy of the page with more panels in its data, and the sections the program writes for
    them: the page draws any report's description, also of reports the program does not ship."""
    with open(page, encoding="utf-8") as f:
        html = f.read()
    opening = '<script type="application/json" id="report-data">'
    start = html.index(opening) + len(opening)
    end = html.index("</script>", start)
    data = json.loads(html[start:end])
    data["panels"] += panels
    text = json.dumps(data, ensure_ascii=False)
    for c in "<>&":
        text = text.replace(c, "\\u%04x" % ord(c))
    sections = "".join(
        f'<section id="panel-{p["name"]}" class="panel"><h2>{p["title"]}</h2><p class="note" '
        f'id="panel-{p["name"]}-note"></p><div id="panel-{p["name"]}-chart"></div>'
        f'<div id="panel-{p["name"]}-table"></div></section>\n' for p in panels)
    html = (html[:start] + text + html[end:]).replace("</main>", sections + "</main>", 1)
    path = os.path.join(os.path.dirname(page), name)
    with open(path, "w", encoding="utf-8") as f:
        f.write(html)
    return path


DAY_COLUMNS = {"first day": min, "last day": max}


def daily_panel(name, title, columns, numeric, share, daily):
    """A panel's data from its daily rows (day, cells...): the rows are their sums by the key
    and the texts, largest first by the share's column (else the first count); "days seen" is
    the number of days, "first day" and "last day" the ends."""
    days = sorted({d[0] for d in daily}, key=calendar_key)
    value = share if share >= 0 else numeric.index(1)
    special = [k > 0 and (c in DAY_COLUMNS or c == "days seen") for k, c in enumerate(columns)]
    sums, seen = {}, {}
    for d in daily:
        cells = list(d[1:])
        key = tuple(v for k, v in enumerate(cells) if k == 0 or not (numeric[k] or special[k]))
        seen.setdefault(key, set()).add(d[0])
        if key not in sums:
            sums[key] = cells
            continue
        for k, column in enumerate(columns):
            if column in DAY_COLUMNS:
                sums[key][k] = DAY_COLUMNS[column](sums[key][k], cells[k], key=calendar_key)
            elif numeric[k] and k > 0 and not special[k]:
                sums[key][k] += cells[k]
    for key, row in sums.items():
        for k, column in enumerate(columns):
            if column == "days seen":
                row[k] = len(seen[key])
    rows = sorted(sums.values(), key=lambda r: (-r[value], r[0]))
    return {"name": name, "title": title, "columns": columns, "titles": columns + (["share"] if share >= 0 else []),
            "numeric": numeric, "share": share, "counted": 1, "rows": rows, "days": days,
            "daily": [[days.index(d[0])] + list(d[1:]) for d in daily]}


class DescribedPanelsReport(PageTest):
    """Panels of reports others describe (the ten largest as bars, requests per category and
    day stacked), added to a page of the small log above."""

    COUNTRIES = [f"Country {k}" if k != 4 else "<b>Evil</b>" for k in range(12)]
    CRAWLERS = [("01/Mar/2009", "A", "search engine", 5, 50), ("02/Mar/2009", "A", "search engine", 3, 30),
                ("01/Mar/2009", "B", "AI", 2, 20), ("05/Mar/2009", "B", "AI", 7, 70),
                ("05/Mar/2009", "C", "AI", 1, 10)]

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="hitsieve-page-")
        page = make_page(cls.folder, PanelReport.prepare_logs(cls.folder))
        countries = []
        for k, name in enumerate(cls.COUNTRIES):
            countries.append(["01/Mar/2009", f"C{k}", name, (k + 1) * 10, (k + 1) * 10])
            countries.append(["05/Mar/2009", f"C{k}", name, 12 - k, 12 - k])
        cls.page = add_panels(page, [
            daily_panel("countries", "Countries", ["iso code", "name", "visitors", "views"], [0, 0, 1, 1], 3, countries),
            daily_panel("crawlers", "Crawlers",
                        ["name", "category", "requests", "days seen", "first day", "last day", "traffic"],
                        [0, 0, 1, 1, 0, 0, 1], -1,
                        [[day, name, category, requests, 1, day, day, traffic]
                         for day, name, category, requests, traffic in cls.CRAWLERS])], "described.html")
        cls.browser = cls.make_browser()

    def bars(self, name):
        return self.js(f"""[...document.querySelectorAll('#panel-{name}-chart rect')].map(r => {{
            const d = {{}}; for (const a of r.attributes) if (a.name.startsWith('data-')) d[a.name.slice(5)] = a.value;
            return d; }})""")

    def set_range(self, first, last):
        PanelReport.set_range(self, first, last)

    def test_the_ten_largest_are_bars_and_every_row_is_in_the_table(self):
        whole = {self.COUNTRIES[k]: 9 * k + 22 for k in range(12)}
        largest = sorted(whole.items(), key=lambda item: -item[1])[:10]
        self.assertEqual([[n, str(v)] for n, v in largest], [[b["label"], b["value"]] for b in self.bars("countries")])
        self.assertEqual(12, self.table("panel-countries")["rows"])
        labels = self.js("[...document.querySelectorAll('#panel-countries-chart text.bar-label')].map(t => t.textContent)")
        self.assertIn("<b>Evil</b>", labels)
        self.assertEqual(0, self.js("document.querySelectorAll('main b').length"))
        # One day: its own ten largest, and the table's rows and shares of that day only.
        self.set_range("2009-03-05", "2009-03-05")
        day = {self.COUNTRIES[k]: 12 - k for k in range(12)}
        largest = sorted(day.items(), key=lambda item: -item[1])[:10]
        self.assertEqual([[n, str(v)] for n, v in largest], [[b["label"], b["value"]] for b in self.bars("countries")])
        cells = self.table("panel-countries")["cells"]
        self.assertEqual(["C0", "Country 0", "12", "12", "15,38"], cells[0])  # 12 of 78

    def test_requests_stack_per_category_and_day(self):
        expected = {("01/Mar/2009", "search engine"): 5, ("01/Mar/2009", "AI"): 2,
                    ("02/Mar/2009", "search engine"): 3, ("05/Mar/2009", "AI"): 8}
        self.assertEqual(expected, {(b["day"], b["category"]): int(b["value"]) for b in self.bars("crawlers")})
        self.assertEqual([["A", "search engine", "8", "2", "01/Mar/2009", "02/Mar/2009", "80"],
                          ["B", "AI", "9", "2", "01/Mar/2009", "05/Mar/2009", "90"],
                          ["C", "AI", "1", "1", "05/Mar/2009", "05/Mar/2009", "10"]],
                         sorted(self.table("panel-crawlers")["cells"]))
        # In a range, the days seen and the first and last day are those of the range.
        self.set_range("2009-03-02", "2009-03-05")
        self.assertEqual({k: v for k, v in expected.items() if k[0] != "01/Mar/2009"},
                         {(b["day"], b["category"]): int(b["value"]) for b in self.bars("crawlers")})
        self.assertEqual([["B", "AI", "7", "1", "05/Mar/2009", "05/Mar/2009", "70"],
                          ["A", "search engine", "3", "1", "02/Mar/2009", "02/Mar/2009", "30"],
                          ["C", "AI", "1", "1", "05/Mar/2009", "05/Mar/2009", "10"]],
                         self.table("panel-crawlers")["cells"])


class HostileReport(PageTest):
    """Logs whose texts try to run script or break the page, also as crawler requests."""

    @classmethod
    def prepare_logs(cls, folder):
        source = os.path.join(DATA, "hostile-lines.log")
        with open(source, "rb") as f:
            lines = f.read().split(b"\n")
        # The same lines again as Googlebot requests, so the robot log and panels carry them too.
        robots = []
        for line in lines:
            cut = line.rfind(b'"', 0, max(0, line.rfind(b'"')))
            robots.append(line[:cut] + b'"Googlebot/2.1 <script>alert(3)</script>"' if cut > 0 else line)
        path = os.path.join(folder, "hostile-robots.log")
        with open(path, "wb") as f:
            f.write(b"\n".join(robots))
        # And again as requests not found, so the panels' lists carry their pages and referers.
        missing = os.path.join(folder, "hostile-404.log")
        with open(missing, "wb") as f:
            f.write(b"\n".join(line.replace(b'" 200 ', b'" 404 ', 1) for line in lines))
        return [source, path, missing]

    def test_no_injected_script_runs_and_texts_show_as_text(self):
        self.browser.pump(0.5)
        self.assertEqual("Hitsieve: отчёт", self.js("document.title"))
        self.assertEqual(0, self.js("document.querySelectorAll('img, iframe, object, embed, main svg[onload], [onerror], [onload]').length"))
        self.assertEqual(2, self.js("document.scripts.length"))
        self.filter("queries", "</script>")
        self.assertIn("</script><!--", [c[0] for c in self.table("queries")["cells"]])
        self.filter("pages", "</script>")
        self.assertIn("/</script><b>x</b>.html", [c[0] for c in self.table("pages")["cells"]])
        self.filter("panel-notfound", "</script>")
        self.assertIn("/</script><b>x</b>.html", [c[0] for c in self.table("panel-notfound")["cells"]])
        self.filter("panel-notfound", "javascript:")
        self.assertIn("javascript:alert(document.cookie)", [c[2] for c in self.table("panel-notfound")["cells"]])
        self.assertEqual(0, self.js("document.querySelectorAll('main b, main svg[onload], main iframe').length"))

    def test_only_web_addresses_become_links(self):
        self.js("document.querySelector('#referers-table .page-size').value = '1000';"
                "document.querySelector('#referers-table .page-size').dispatchEvent(new Event('change'))")
        hrefs = self.js("[...document.querySelectorAll('main a[href]')].map(a => a.getAttribute('href'))")
        for href in hrefs:
            self.assertRegex(href, r"(?i)^(https?://|#)")
        shown = [c[0] for c in self.table("referers")["cells"]]
        self.assertIn("javascript:alert(document.cookie)", shown)
        # Referers read decoded (UTF-8, else Windows-1251; controls and reordering marks replaced),
        # while the link keeps the address as logged.
        self.assertIn("http://www.rambler.ru/srch?words=вики", shown)
        self.assertIn("http://www.google.ru/search?q=\ufffdreversed\ufffd", shown)
        self.assertIn("http://www.google.ru/search?q=\ufffd[31mred\ufffd[0m\ufffd", shown)
        self.assertIn("http://www.google.ru/search?q=😀 emoji", shown)
        self.assertIn("http://www.rambler.ru/srch?words=%E2%E8%EA%E8", hrefs)

    def test_clicking_through_every_view_stays_clean(self):
        panels = [f"panel-{p['name']}" for p in self.data["panels"]]
        self.assertTrue(panels)
        for name in ["days", "pages", "queries", "hosts", "referers", "crawlers", "robots"] + panels:
            columns = self.js(f"document.querySelectorAll('#{name}-table th').length")
            for column in range(columns):
                self.click_header(name, column)
            self.js(f"document.querySelectorAll('#{name}-table .pager button')[3].click()")
        self.js("""(() => { const s = document.querySelector('#robots-table .choice');
            s.selectedIndex = s.options.length - 1; s.dispatchEvent(new Event('change')); })()""")
        self.browser.pump(0.3)
        self.assertEqual("Hitsieve: отчёт", self.js("document.title"))


class LargeReport(PageTest):
    """Enough rows that the data travels compressed; the page must behave the same."""

    @classmethod
    def prepare_logs(cls, folder):
        return []

    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix="hitsieve-page-")
        db = os.path.join(cls.folder, "large.dt")
        maker = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench", "make_report_db.py")
        subprocess.run([sys.executable, maker, CLI, db, "--rows", "30000", "--days", "400"], check=True)
        cls.page = os.path.join(cls.folder, "large.html")
        run_cli("html", "--db", db, "--output", cls.page)
        cls.browser = cls.make_browser()

    def test_compressed_data_gives_every_row(self):
        self.assertEqual("gzip-base64", self.js("document.getElementById('report-data').dataset.encoding"))
        for name in ["pages", "queries", "referers", "robots"]:
            with self.subTest(table=name):
                t = self.table(name)
                self.assertEqual([30000, 600], [t["rows"], t["pages"]])
        self.assertEqual(400, self.table("days")["rows"])
        self.click_header("queries", 1)
        totals = [int(c[1]) if c[1] != "-" else 0 for c in self.table("queries")["cells"]]
        self.assertEqual(max(r[1] for r in self.data["queries"]), totals[0])
        self.assertEqual(sorted(totals, reverse=True), totals)
        self.filter("referers", "ПОИСКОВЫЕ")
        from_data = sum(1 for r in self.data["referers"] if "поисковые" in unquote_plus(r[0]).lower())
        self.assertEqual(from_data, self.table("referers")["rows"])
        self.assertGreater(from_data, 0)


class EmptyReport(PageTest):
    @classmethod
    def prepare_logs(cls, folder):
        path = os.path.join(folder, "empty.log")
        open(path, "w").close()
        return [path]

    def test_an_empty_database_gives_a_working_page(self):
        for name in ["days", "pages", "queries", "hosts", "referers", "crawlers", "robots"]:
            t = self.table(name)
            self.assertEqual([0, 1, 1], [t["rows"], t["page"], t["pages"]], name)
        self.assertEqual("Нет дней для графика", self.js("document.querySelector('#chart svg text').textContent"))
        self.assertEqual("—", self.js("document.getElementById('sum-period').textContent"))


# The same checks in Firefox ESR (puppeteer-core over WebDriver BiDi, see firefox.py): the page
# must not depend on one engine.
class FirefoxSampleReport(SampleReport):
    make_browser = staticmethod(lambda: Firefox(FIREFOX))


class FirefoxCalendarReport(CalendarReport):
    make_browser = staticmethod(lambda: Firefox(FIREFOX))


class FirefoxPanelReport(PanelReport):
    make_browser = staticmethod(lambda: Firefox(FIREFOX))


class FirefoxDescribedPanelsReport(DescribedPanelsReport):
    make_browser = staticmethod(lambda: Firefox(FIREFOX))


class FirefoxHostileReport(HostileReport):
    make_browser = staticmethod(lambda: Firefox(FIREFOX))


class FirefoxLargeReport(LargeReport):
    make_browser = staticmethod(lambda: Firefox(FIREFOX))


class FirefoxEmptyReport(EmptyReport):
    make_browser = staticmethod(lambda: Firefox(FIREFOX))


if __name__ == "__main__":
    unittest.main()
