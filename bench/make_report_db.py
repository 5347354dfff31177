#!/usr/bin/env python3
"""Fills a statistics database with ROWS each of pages, referers, phrases and robot hits.

    bench/make_report_db.py HITSIEVE_CLI DATABASE [--rows 100000] [--days 730]

The tables are made by `hitsieve-cli analyse` on an empty log, so they are exactly the program's;
the rows are then written with SQLite directly (an analysis of a log that big would take minutes
and is measured elsewhere). Texts look like a real site's: paths, search referers with Cyrillic
queries percent-encoded, phrases in Windows-1251, a few crawlers over every day.
"""

import argparse
import os
import random
import sqlite3
import subprocess
import tempfile
import urllib.parse

MONTHS = "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec".split()
WORDS = ("статистика сайта посещаемость журнал сервера поисковые роботы скачать бесплатно новости "
         "log analyser visitors referer spam gzip apache nginx report chart daily traffic").split()
CRAWLERS = [b"Googlebot", b"Yandex", b"StackRambler", b"\xc0\xef\xee\xf0\xf2", b"Webalta"]


def day_keys(count):
    import datetime
    start = datetime.date(2024, 1, 1)
    days = []
    for i in range(count):
        d = start + datetime.timedelta(days=i)
        days.append(f"{d.day:02d}/{MONTHS[d.month - 1]}/{d.year}")
    return days


def phrase(rng, i):
    return " ".join(rng.choice(WORDS) for _ in range(rng.randint(1, 4))) + f" {i}"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("cli")
    parser.add_argument("database")
    parser.add_argument("--rows", type=int, default=100000)
    parser.add_argument("--days", type=int, default=730)
    args = parser.parse_args()
    rng = random.Random(14)
    if os.path.exists(args.database):
        os.remove(args.database)
    with tempfile.NamedTemporaryFile(suffix=".log") as empty:
        subprocess.run([args.cli, "analyse", "--db", args.database, "--", empty.name],
                       check=True, capture_output=True)
    db = sqlite3.connect(args.database)
    days = day_keys(args.days)
    db.executemany("INSERT INTO common_stats VALUES(NULL, ?, ?, ?, ?, ?)",
                   [(d, h, h + rng.randint(0, h // 5 + 1), h * 3 + rng.randint(0, 500), h // 3)
                    for d in days for h in [rng.randint(800, 2000) + (300 if d.startswith("0") else 0)]])
    pages = []
    for i in range(args.rows):
        visits = max(1, int(100000 / (i + 1)))
        engines = [rng.randint(0, visits // 6) for _ in range(6)]
        pages.append((f"/section-{i % 97}/article-{i}.html", visits, sum(engines),
                      visits * rng.randint(2000, 90000), *engines))
    db.executemany("INSERT INTO page_stats VALUES(NULL, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)", pages)
    referers = []
    for i in range(args.rows // 10):
        referers.append((f"site-{i}.example.org", 0, max(1, int(50000 / (i + 1)))))
    for i in range(args.rows):
        q = urllib.parse.quote(phrase(rng, i))
        host = rng.choice(["www.google.ru/search?q=", "yandex.ru/yandsearch?text=", "go.mail.ru/search?q="])
        referers.append((f"http://{host}{q}", 1, max(1, int(30000 / (i + 1)))))
    db.executemany("INSERT INTO referer_stats VALUES(NULL, ?, ?, ?)", referers)
    queries = []
    for i in range(args.rows):
        engines = [rng.randint(0, 40) for _ in range(6)]
        queries.append((phrase(rng, i).encode("cp1251"), sum(engines), *engines))
    db.executemany("INSERT INTO query_stats VALUES(NULL, ?, ?, ?, ?, ?, ?, ?, ?)", queries)
    robots = []
    for i in range(args.rows):
        robots.append((rng.choice(CRAWLERS), f"/section-{i % 97}/article-{rng.randint(0, args.rows)}.html",
                       rng.choice([200, 200, 200, 200, 304, 301, 404, 500]),
                       f"66.249.{rng.randint(0, 255)}.{rng.randint(0, 255)}", days[i * len(days) // args.rows]))
    db.executemany("INSERT INTO robot_log VALUES(NULL, ?, ?, ?, ?, ?)", robots)
    db.commit()
    db.close()


if __name__ == "__main__":
    main()
