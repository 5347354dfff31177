#!/usr/bin/env python3
"""The slow reference for the agent parser's differential test.

Usage: agent_reference.py OUTPUT_TSV

Takes real agents from the test files of Debian's uap-core package (its own test agents, shipped
beside the older regex file python3-ua-parser depends on), parses them with Debian's
python3-ua-parser, and writes one line per agent: agent, browser family, browser major, system
family, device family, device brand, separated by tabs. The regex file used is the one
UA_PARSER_YAML names; the test points it at the pinned file the program compiles in, so both
sides use the same rules.
"""

import os
import sys

import yaml
from ua_parser import user_agent_parser

CORPUS = "/usr/share/uap-core"
# (file, keep every n-th case): the device file alone has 16,000 cases, a sample is enough.
SOURCES = [
    ("tests/test_ua.yaml", 1),
    ("tests/test_os.yaml", 1),
    ("tests/test_device.yaml", 6),
    ("test_resources/firefox_user_agent_strings.yaml", 1),
    ("test_resources/opera_mini_user_agent_strings.yaml", 1),
    ("test_resources/podcasting_user_agent_strings.yaml", 1),
    ("test_resources/additional_os_tests.yaml", 1),
    ("test_resources/pgts_browser_list.yaml", 10),
]


def agents():
    seen = set()
    for name, step in SOURCES:
        with open(os.path.join(CORPUS, name), "rb") as f:
            cases = yaml.load(f, Loader=getattr(yaml, "CSafeLoader", yaml.SafeLoader))["test_cases"]
        for case in cases[::step]:
            agent = case.get("user_agent_string")
            if not isinstance(agent, str) or not agent or agent in seen:
                continue
            if any(c in agent for c in "\t\r\n") or not agent.isascii():
                continue  # one agent per line; the C++ side matches bytes, Python code points
            seen.add(agent)
            yield agent


def main(argv):
    if not os.environ.get("UA_PARSER_YAML"):
        sys.exit("agent_reference.py: UA_PARSER_YAML must name the regex file to use")
    rows = []
    for agent in agents():
        parsed = user_agent_parser.Parse(agent)
        ua, os_, device = parsed["user_agent"], parsed["os"], parsed["device"]
        rows.append("\t".join([agent, ua["family"], ua["major"] or "", os_["family"],
                               device["family"], device["brand"] or ""]))
    with open(argv[1], "w", encoding="utf-8") as f:
        f.write("\n".join(rows) + "\n")


if __name__ == "__main__":
    main(sys.argv)
