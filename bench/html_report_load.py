#!/usr/bin/python3
"""How big the report page of a large database is, and how fast headless Chromium makes it usable.

    bench/html_report_load.py [BUILD_DIR] [--rows 100000] [--runs 5]

Builds bench/out/report-100k.dt (ROWS each of pages, referers, phrases and robot hits, two years
of days), writes its page with hitsieve-cli html, then opens it RUNS times in a fresh headless
Chromium and prints the median time until the page's script has drawn everything (the moment it
marks the document ready, from the start of navigation), and the time of a sort and a filter over
the largest table. Target: interactive within 2 s. Not run by ctest.
"""

import argparse
import os
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "browser"))
from driver import Browser  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", nargs="?", default="build")
    parser.add_argument("--rows", type=int, default=100000)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--chromium", default="chromium")
    args = parser.parse_args()
    cli = os.path.join(os.path.abspath(args.build), "cli", "hitsieve-cli")
    out = os.path.join(ROOT, "bench", "out")
    os.makedirs(out, exist_ok=True)
    db = os.path.join(out, f"report-{args.rows // 1000}k.dt")
    page = os.path.join(out, f"report-{args.rows // 1000}k.html")
    subprocess.run([sys.executable, os.path.join(ROOT, "bench", "make_report_db.py"), cli, db,
                    "--rows", str(args.rows)], check=True)
    start = time.monotonic()
    subprocess.run([cli, "html", "--db", db, "--output", page, "--force"], check=True,
                   stdout=subprocess.DEVNULL)
    written = time.monotonic() - start
    size = os.path.getsize(page)
    print(f"page: {page}")
    print(f"rows: {args.rows} each of pages, referers, phrases, robot hits")
    print(f"size: {size} bytes ({size / 1048576:.1f} MiB); hitsieve-cli html took {written:.2f} s")

    ready, seen, sort, filtering = [], [], [], []
    for _ in range(args.runs):
        with Browser(args.chromium) as browser:
            seen.append(browser.open(page, timeout=60))
            ready.append(browser.evaluate("window.hitsieveReadyAt") / 1000)

            errors = browser.errors()
            if errors:
                print("console errors:", errors)
            sort.append(browser.evaluate("""(() => { const t0 = performance.now();
                document.querySelectorAll('#referers-table th')[0].click(); return performance.now() - t0; })()""") / 1000)
            filtering.append(browser.evaluate("""(() => { const t0 = performance.now();
                const box = document.querySelector('#referers-table .filter');
                box.value = 'статистика'; box.dispatchEvent(new Event('input'));
                return new Promise(r => setTimeout(() => r(performance.now() - t0 - 150), 150)); })()""") / 1000)
    print(f"interactive (navigation start to script done), median of {args.runs}: "
          f"{statistics.median(ready):.2f} s (min {min(ready):.2f}, max {max(ready):.2f})")
    print(f"as seen by the driver (navigate command to ready): {statistics.median(seen):.2f} s")
    print(f"load average while measuring: {os.getloadavg()[0]:.1f} (the machine has {os.cpu_count()} cores)")
    print(f"sort {args.rows} referers by text: {statistics.median(sort) * 1000:.0f} ms; "
          f"filter them: {statistics.median(filtering) * 1000:.0f} ms (after the 150 ms typing pause)")
    print("target: interactive within 2 s:", "met" if statistics.median(ready) < 2 else "NOT met")


if __name__ == "__main__":
    main()
