#!/usr/bin/env python3
"""Turns the crawler list package into C++ tables, at build time.

Usage: make_crawler_list.py PACKAGE_DIR TABLE_OUT INSTANCES_OUT

PACKAGE_DIR holds crawler-user-agents.json and package.json. TABLE_OUT gets one entry per
pattern (pattern, readable name, token as it appears in agents, category, rank); INSTANCES_OUT
the example agents the package gives for each pattern, for the tests.
"""
import json
import os
import re
import sys

# A crawler's category from its tags: the first tag of this order that it carries decides.
CATEGORY_BY_TAG = [
    ("ai-crawler", "kAi"),
    ("search-engine", "kSearchEngine"),
    ("feed-reader", "kFeedReader"),
    ("archiver", "kArchive"),
    ("monitoring", "kMonitoring"),
    ("seo", "kSeoTool"),
    ("http-library", "kTool"),
    ("browser-automation", "kTool"),
    ("scanner", "kTool"),
]
# Libraries and headless browsers that other crawlers are built on: when an agent names one of
# these and a crawler of its own, the crawler is what it is.
CARRIER_TAGS = {"http-library", "browser-automation"}


def category(tags):
    for tag, name in CATEGORY_BY_TAG:
        if tag in tags:
            return name
    return "kOther"


def token(entry):
    """The text the pattern finds in the package's examples (the most frequent, then the first):
    how the crawler names itself."""
    found = [m.group(0) for m in (re.search(entry["pattern"], i) for i in entry["instances"])
             if m and m.group(0).strip()]
    if found:
        text = max(found, key=lambda t: (found.count(t), -found.index(t)))
    else:
        text = re.sub(r"\\(.)", r"\1", entry["pattern"]).strip("^$")
    text = text.strip().rstrip("/;,:").strip()
    while text.endswith(")") and text.count(")") > text.count("("):
        text = text[:-1].rstrip()
    while text.startswith("(") and text.count("(") > text.count(")"):
        text = text[1:].lstrip()
    return text


def readable(tok):
    """A one-word lower-case token is written as a name: bingbot as Bingbot, wget as Wget."""
    if tok[:1].islower() and tok.isascii() and tok.isalnum():
        return tok[0].upper() + tok[1:]
    return tok


def literal_length(pattern):
    return len(re.sub(r"\\(.)", r"\1", pattern))


def cxx(text):
    out = []
    for byte in text.encode("utf-8"):
        ch = chr(byte)
        if ch in '"\\':
            out.append("\\" + ch)
        elif 0x20 <= byte < 0x7F and ch != "?":
            out.append(ch)
        else:
            out.append("\\%03o" % byte)
    return '"' + "".join(out) + '"'


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    package, table_out, instances_out = sys.argv[1:]
    list_file = os.path.join(package, "crawler-user-agents.json")
    if not os.path.isfile(list_file):
        sys.exit(f"{list_file} is missing: run scripts/install-deps to fetch the crawler list")
    with open(list_file, encoding="utf-8") as f:
        entries = json.load(f)
    with open(os.path.join(package, "package.json"), encoding="utf-8") as f:
        version = json.load(f)["version"]
    header = f"// Made from crawler-user-agents {version} by make_crawler_list.py; do not edit.\n"
    lines = [header, f"#define HITSIEVE_CRAWLER_LIST_VERSION {cxx('crawler-user-agents ' + version)}\n",
             "constexpr CrawlerEntry kCrawlerEntries[] = {\n"]
    instances = [header]
    for index, entry in enumerate(entries):
        tags = set(entry.get("tags", []))
        tok = token(entry)
        # Higher ranks win when several patterns find an agent: a crawler over the library it
        # is built with, then the longer pattern, which says more.
        rank = (0 if tags & CARRIER_TAGS else 10000) + literal_length(entry["pattern"])
        lines.append(f"    {{{cxx(entry['pattern'])}, {cxx(readable(tok))}, {cxx(tok)}, "
                     f"CrawlerCategory::{category(tags)}, {rank}}},\n")
        for instance in entry.get("instances", []):
            instances.append(f"{{{index}, {cxx(instance)}}},\n")
    lines.append("};\n")
    for path, text in ((table_out, lines), (instances_out, instances)):
        with open(path + ".tmp", "w", encoding="ascii") as f:
            f.writelines(text)
        os.replace(path + ".tmp", path)


if __name__ == "__main__":
    main()
