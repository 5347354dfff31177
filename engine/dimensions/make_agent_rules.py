#!/usr/bin/env python3
"""Turns the user agent regex file into C++ tables compiled into the program.

Usage: make_agent_rules.py REGEXES_YAML PACKAGE_JSON OUTPUT_CPP

Every rule keeps its place in the file, because the first rule that matches wins. Each regex is
compiled here with Python's engine as a sanity check of the file; the C++ side compiles them again
and reports any it cannot use.

Beside each regex goes a set of literals such that any text the regex matches contains one of
them (nothing when no such set is found). The program scans an agent once for all literals of all
rules and runs the full regex only for the rules whose literals occur.
"""

import json
import os
import re
import sys

try:
    import re._parser as sre_parse  # Python 3.11 and later
    from re import _constants as sre
except ImportError:
    import sre_parse
    import sre_constants as sre

INSTALL_HINT = "run scripts/install-deps to install the pinned data packages"


def fail(message):
    sys.stderr.write("make_agent_rules: %s\n" % message)
    sys.exit(1)


def c_string(text):
    """A C++ string literal holding `text` as UTF-8, or nullptr for a missing or empty value."""
    if text is None:
        return "nullptr"
    if not isinstance(text, str):
        text = str(text)
    if text == "":
        return "nullptr"
    out = []
    for byte in text.encode("utf-8"):
        ch = chr(byte)
        if ch == "\\":
            out.append("\\\\")
        elif ch == '"':
            out.append('\\"')
        elif 0x20 <= byte < 0x7F:
            out.append(ch)
        else:
            out.append("\\%03o" % byte)
    return '"' + "".join(out) + '"'


# The literal sets a match needs. Each node of the parsed regex gives `exact`, every string it can
# match when that is a small finite set (else None); `prefix`, strings one of which every match
# starts with ({""} when nothing is known); and `needed`, a set one of whose strings every match
# contains (else None). A sequence glues neighbouring exact sets together, and a run of exact nodes
# to the prefixes of the node after it.
MAX_EXACT = 64
# Tokens found in most agents: a literal made of them says little about an agent.
COMMON = ["mozilla", "applewebkit", "khtml", "like gecko", "gecko", "safari", "mobile", "linux",
          "android", "windows", "chrome", "version", "build", "compatible", "x11", "macintosh",
          "intel", "mac os x", "iphone", "cpu", "wow64", "win64", "x64"]


def weight(text):
    """How rare a literal is likely to be in agents: letters and digits count most, common
    tokens little."""
    word = "".join(c for c in text if c.isalnum()).lower()
    score = len(word) + 0.5 * (len(text) - len(word))
    if word and any(word in c or c in text.lower() for c in COMMON):
        return score / 4.0
    return score


def ranked(sets):
    """The sets that require something, the likely rarest first."""
    usable = [x for x in sets if x and "" not in x]
    return sorted(usable, key=lambda x: (min(weight(t) for t in x), -len(x)), reverse=True)


def best(sets):
    usable = ranked(sets)
    return usable[0] if usable else None


def cross(left, right):
    if left is None or right is None or len(left) * len(right) > MAX_EXACT:
        return None
    return {a + b for a in left for b in right}


def char_set(items):
    chars = set()
    for op, arg in items:
        if op == sre.LITERAL:
            chars.add(chr(arg))
        elif op == sre.RANGE and arg[1] - arg[0] < 8:
            chars.update(chr(c) for c in range(arg[0], arg[1] + 1))
        else:
            return None  # negation, categories, wide ranges
    return chars if len(chars) <= 8 else None


def analyse_sequence(nodes, found=None):
    """As analyse_node; every set the sequence needs is also added to `found` when given."""
    run, prefix = {""}, None
    found = [] if found is None else found
    for node in nodes:
        exact, node_prefix, needed = analyse_node(node, found)
        glued = cross(run, exact)
        if glued is not None:
            run = glued
            continue
        joined = cross(run, node_prefix) or run
        if prefix is None:
            prefix = joined
        found += [joined, needed]
        run = exact if exact is not None and len(exact) <= MAX_EXACT else {""}
    found.append(run)
    if prefix is None:
        return run, run, best(found)
    return None, prefix, best(found)


def analyse_node(node, found):
    """(exact, prefix, needed) of one node; sets that every match of the node needs may also be
    added to `found`."""
    op, arg = node
    if op == sre.LITERAL:
        return {chr(arg)}, {chr(arg)}, None
    if op == sre.IN:
        chars = char_set(arg)
        return chars, chars or {""}, None
    if op in (sre.AT, sre.ASSERT, sre.ASSERT_NOT):
        return {""}, {""}, None  # takes no text: neighbours stay neighbours
    if op == sre.SUBPATTERN:
        return analyse_sequence(arg[-1], found)
    if op == sre.ATOMIC_GROUP:
        return analyse_sequence(arg, found)
    if op == sre.BRANCH:
        results = [analyse_sequence(branch) for branch in arg[1]]
        exact, prefix, needed = set(), set(), set()
        for branch_exact, branch_prefix, branch_needed in results:
            exact = None if exact is None or branch_exact is None else exact | branch_exact
            prefix |= branch_prefix
            one = best([branch_exact, branch_prefix, branch_needed])
            needed = None if needed is None or one is None else needed | one
        if exact is not None and len(exact) > MAX_EXACT:
            exact = None
        if len(prefix) > MAX_EXACT:
            prefix = {""}
        return exact, prefix, needed
    if op in (sre.MAX_REPEAT, sre.MIN_REPEAT, getattr(sre, "POSSESSIVE_REPEAT", None)):
        low, high, inner = arg
        inner_exact, inner_prefix, inner_needed = analyse_sequence(inner, found if low else None)
        exact = None
        if inner_exact is not None and high <= 3:  # x?, x{0,2}: every count spelled out
            exact, power = set(), {""}
            for count in range(high + 1):
                if count >= low:
                    exact |= power
                power = cross(power, inner_exact) if count < high else power
                if power is None or len(exact) > MAX_EXACT:
                    exact = None
                    break
        if low == 0:
            return exact, exact or {""}, None
        return exact, inner_prefix, best([inner_exact, inner_prefix, inner_needed])
    return None, {""}, None  # any character, classes, back references


def ignores_case_inside(nodes):
    """Whether a group of the parsed regex turns on ignoring case, as (?i:...) does."""
    for op, arg in nodes:
        if op == sre.SUBPATTERN and (arg[1] & re.IGNORECASE or ignores_case_inside(arg[-1])):
            return True
        if op == sre.BRANCH and any(ignores_case_inside(branch) for branch in arg[1]):
            return True
        if op in (sre.ATOMIC_GROUP,) and ignores_case_inside(arg):
            return True
        if op in (sre.MAX_REPEAT, sre.MIN_REPEAT, getattr(sre, "POSSESSIVE_REPEAT", None)):
            if ignores_case_inside(arg[2]):
                return True
    return False


def needed_literals(regex, caseless):
    """Up to two literal sets that every match needs, each as a sorted list; a text the regex
    matches contains a string of each set. None for a regex that ignores case by its own inline
    flags: its literals would have to match ignoring case while the rule's do not."""
    parsed = sre_parse.parse(regex, re.IGNORECASE if caseless else 0)
    if not caseless and (parsed.state.flags & re.IGNORECASE or ignores_case_inside(parsed)):
        return []
    found = []
    exact, prefix, _ = analyse_sequence(parsed, found)
    sets = []
    for literals in ranked([exact, prefix] + found):
        if caseless:
            literals = {t.lower() for t in literals}
        literals = sorted(literals)
        # A second set that every string of the first contains adds nothing.
        implied = sets and all(any(t in first for t in literals) for first in sets[0])
        if literals not in sets and not implied:
            sets.append(literals)
    return sets[:2]


# Which replacement keys fill the five slots of a rule, per list.
SLOTS = {
    "user_agent_parsers": ["family_replacement", "v1_replacement", "v2_replacement"],
    "os_parsers": ["os_replacement", "os_v1_replacement", "os_v2_replacement",
                   "os_v3_replacement", "os_v4_replacement"],
    "device_parsers": ["device_replacement", "brand_replacement", "model_replacement"],
}
TABLES = {
    "user_agent_parsers": "kBrowserRules",
    "os_parsers": "kSystemRules",
    "device_parsers": "kDeviceRules",
}


def load(yaml_path, package_path):
    for path in (yaml_path, package_path):
        if not os.path.isfile(path):
            fail("%s is missing: %s" % (path, INSTALL_HINT))
    try:
        import yaml
    except ImportError:
        fail("Python's yaml module (python3-yaml) is missing: %s" % INSTALL_HINT)
    with open(yaml_path, "rb") as f:
        regexes = yaml.safe_load(f)
    with open(package_path, "rb") as f:
        package = json.load(f)
    return regexes, package


def rule_line(kind, entry, position):
    regex = entry.get("regex")
    if not isinstance(regex, str) or not regex:
        fail("%s rule %d has no regex" % (kind, position))
    flag = entry.get("regex_flag")
    if flag not in (None, "i"):
        fail("%s rule %d has an unknown regex_flag %r" % (kind, position, flag))
    try:
        re.compile(regex, re.IGNORECASE if flag == "i" else 0)
    except re.error as e:
        fail("%s rule %d does not compile: %s" % (kind, position, e))
    slots = [c_string(entry.get(key)) for key in SLOTS[kind]]
    slots += ["nullptr"] * (5 - len(slots))
    names, extra = ["nullptr", "nullptr"], []
    for n, literals in enumerate(needed_literals(regex, flag == "i")):
        names[n] = "%sLiterals%d%s" % (TABLES[kind].replace("Rules", ""), position, "ab"[n])
        extra.append("const char* const %s[] = {%s, nullptr};" % (
            names[n], ", ".join(c_string(t) for t in literals)))
    line = "    {%s, %s, {%s}, {%s}}," % (c_string(regex), "true" if flag == "i" else "false",
                                          ", ".join(slots), ", ".join(names))
    return extra, line


def main(argv):
    if len(argv) != 4:
        fail("usage: make_agent_rules.py REGEXES_YAML PACKAGE_JSON OUTPUT_CPP")
    regexes, package = load(argv[1], argv[2])
    version = "%s %s" % (package.get("name", "uap-core"), package.get("version", "?"))
    lines = [
        "// Generated by engine/dimensions/make_agent_rules.py from %s's regexes.yaml." % version,
        "// Do not edit; the build writes it again when the data changes.",
        '#include "engine/dimensions/agent_rules.h"',
        "",
        "namespace hitsieve::agent_rules {",
        "",
        "const char kDataVersion[] = %s;" % c_string(version),
    ]
    for kind, table in TABLES.items():
        entries = regexes.get(kind)
        if not isinstance(entries, list) or not entries:
            fail("%s has no %s" % (argv[1], kind))
        literal_lines, rule_lines = [], []
        for i, e in enumerate(entries):
            extra, line = rule_line(kind, e, i)
            literal_lines += extra
            rule_lines.append(line)
        lines.append("")
        lines.append("namespace {")
        lines += literal_lines
        lines.append("}  // namespace")
        lines.append("")
        lines.append("const AgentRule %s[] = {" % table)
        lines += rule_lines
        lines.append("};")
        lines.append("const std::size_t %sCount = %d;" % (table, len(entries)))
    lines += ["", "}  // namespace hitsieve::agent_rules", ""]
    text = "\n".join(lines)
    # Through a temporary file, so an interrupted run never leaves half a table behind.
    temporary = argv[3] + ".tmp"
    with open(temporary, "w", encoding="ascii") as f:
        f.write(text)
    os.replace(temporary, argv[3])


if __name__ == "__main__":
    main(sys.argv)
