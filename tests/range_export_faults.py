#!/usr/bin/env python3
"""Malformed range exports, each made from a real one by a small edit, are refused with one line
that names the file and the fault: by orvane --ranges at run time (exit status 1, nothing on
standard output), and by range_message_groups, the reader the build runs, with the same
message. The build's converter reports it without a traceback, and a configuration with a
missing export stops at once.

    range_export_faults.py ORVANE RANGE_MESSAGE_GROUPS CMAKE SOURCE_DIR
    range_export_faults.py --exports SOURCE_DIR     writes the malformed exports instead, as JSON
                                                    lines {"name", "xml"}, for the page's tests
"""
import json
import os
import re
import resource
import subprocess
import sys
import tempfile

EXPORTS = sys.argv[1] == "--exports"
if EXPORTS:
    source = sys.argv[2]
else:
    orvane, reader, cmake, source = sys.argv[1:5]
with open(os.path.join(source, "tests", "fixtures", "ranges", "RangeMessage-2024-01-08.xml"), encoding="utf-8") as f:
    REAL = f.read()


def rule(low, high, length):
    return f"<Rule>\n<Range>{low}-{high}</Range>\n<Length>{length}</Length>\n</Rule>"


def replace_once(old, new):
    def edit(text):
        assert text.count(old) >= 1, old
        return text.replace(old, new, 1)
    return edit


def without_groups(text):
    return re.sub(r"<RegistrationGroups>.*</RegistrationGroups>", "<RegistrationGroups>\n</RegistrationGroups>", text, flags=re.S)


def many_rules(text):
    rules = "\n".join(rule(f"{i:07d}", f"{i:07d}", 7) for i in range(2600))
    return re.sub(r"(<Prefix>978-0</Prefix>\s*<Agency>[^<]*</Agency>\s*<Rules>).*?(</Rules>)",
                  lambda m: m.group(1) + rules + m.group(2), text, count=1, flags=re.S)


FIRST_RULE_978_0 = "<Range>0000000-1999999</Range>\n          <Length>2</Length>"
CASES = [
    # name, edit, message after "FILE: "
    ("truncated", lambda t: t[:len(t) // 2],
     "line 4145, column 8: not well-formed XML (unclosed token)"),
    ("not XML", lambda t: "This is a list of ranges.\n", "line 1, column 0: not well-formed XML (syntax error)"),
    ("not an ISBNRangeMessage", lambda t: t.replace("ISBNRangeMessage>", "RangeList>"),
     "not an ISBNRangeMessage (its document element is <RangeList>)"),
    ("no groups", without_groups, "no registration groups"),
    ("length not a number", replace_once(FIRST_RULE_978_0, "<Range>0000000-1999999</Range><Length>two</Length>"),
     "group 978-0, rule 0000000-1999999 (Length two): the length is not a whole number from 0 to 7"),
    ("negative length", replace_once(FIRST_RULE_978_0, "<Range>0000000-1999999</Range><Length>-1</Length>"),
     "group 978-0, rule 0000000-1999999 (Length -1): the length is not a whole number from 0 to 7"),
    ("length above 7", replace_once(FIRST_RULE_978_0, "<Range>0000000-1999999</Range><Length>8</Length>"),
     "group 978-0, rule 0000000-1999999 (Length 8): the length is not a whole number from 0 to 7"),
    ("length that leaves no title",
     lambda t: re.sub(r"(<Prefix>978-99901</Prefix>.*?<Length>)\d(</Length>)", r"\g<1>4\2", t, count=1, flags=re.S),
     "group 978-99901, rule 0000000-4999999 (Length 4): the group's 5 digits and the length leave no room for a title"),
    ("ends not aligned", replace_once(FIRST_RULE_978_0, "<Range>0000000-0149999</Range><Length>2</Length>"),
     "group 978-0, rule 0000000-0149999 (Length 2): the range does not start and end on whole publisher numbers of its length"),
    ("overlapping rules", replace_once(FIRST_RULE_978_0, "<Range>0000000-2099999</Range><Length>2</Length>"),
     "group 978-0, rule 2000000-2279999 (Length 3): the rule overlaps or precedes the rule before it"),
    ("low end not aligned", replace_once(FIRST_RULE_978_0, "<Range>0100000-1999999</Range><Length>1</Length>"),
     "group 978-0, rule 0100000-1999999 (Length 1): the range does not start and end on whole publisher numbers of its length"),
    ("no Agency", lambda t: re.sub(r"(<Prefix>978-0</Prefix>\s*)<Agency>[^<]*</Agency>", r"\1", t, count=1),
     "group 978-0: no Agency"),
    ("group digits that leave no room", replace_once("<Prefix>978-99901</Prefix>", "<Prefix>978-99901234</Prefix>"),
     "group 978-99901234: the prefix is not 978 or 979, a hyphen and group digits"),
    ("no assigned range", lambda t: re.sub(r"<Length>\d</Length>", "<Length>0</Length>", t),
     "no registration group has an assigned range"),
    ("group that is a prefix of an earlier one", replace_once("<Prefix>978-99989</Prefix>", "<Prefix>978-9998</Prefix>"),
     "group 978-9998 is a prefix of group 978-99980"),
    ("range ends below its start", replace_once(FIRST_RULE_978_0, "<Range>1999999-0000000</Range><Length>2</Length>"),
     "group 978-0, rule 1999999-0000000 (Length 2): the range ends below its start"),
    ("range not 7 digits", replace_once(FIRST_RULE_978_0, "<Range>000000-199999</Range><Length>2</Length>"),
     "group 978-0, rule 000000-199999 (Length 2): a range is two numbers of 7 digits joined by a hyphen"),
    ("malformed prefix", replace_once("<Prefix>978-0</Prefix>", "<Prefix>977-0</Prefix>"),
     "group 977-0: the prefix is not 978 or 979, a hyphen and group digits"),
    ("group that is a prefix of another", replace_once("<Prefix>978-600</Prefix>", "<Prefix>978-60</Prefix>"),
     "group 978-60 is a prefix of group 978-601"),
    ("group twice", replace_once("<Prefix>978-601</Prefix>", "<Prefix>978-600</Prefix>"),
     "group 978-600 appears twice"),
    ("more ranges than the table holds", many_rules, "group 978-0: more ranges than the table's 2560 rows"),
    ("external document type", lambda t: re.sub(r"<!DOCTYPE.*?\]>", '<!DOCTYPE ISBNRangeMessage SYSTEM "http://example.org/range.dtd">', t, flags=re.S),
     "line 2: an external document type definition is not allowed"),
    ("entity declaration", replace_once("<!ELEMENT Length (#PCDATA) >", '<!ELEMENT Length (#PCDATA) >\n<!ENTITY a "aaaaaaaaaa">'),
     "line 17: an entity declaration is not allowed"),
    # The export's own text is quoted as names are: no line end, tab or CR of its can forge a line.
    ("a prefix with a line end, a tab, a CR and a backslash",
     replace_once("<Prefix>978-0</Prefix>", "<Prefix>978-0&#10;?? other.xml: x&#9;y&#13;\\z</Prefix>"),
     "group 978-0\\n?? other.xml: x\\ty\\r\\\\z: the prefix is not 978 or 979, a hyphen and group digits"),
]

# The nearest exports that pass each boundary check: one more step would be refused.
ACCEPTED = [
    ("a length that leaves one title digit", replace_once(FIRST_RULE_978_0, "<Range>0000000-1999999</Range><Length>7</Length>")),
    ("a length of 3 in a group of 5 digits",
     lambda t: re.sub(r"(<Prefix>978-99901</Prefix>.*?<Length>)\d(</Length>)", r"\g<1>3\2", t, count=1, flags=re.S)),
]
OVERLAP_BY_ONE = ("a rule that starts on the last number of the one before",
                  replace_once("<Range>2000000-2279999</Range>", "<Range>1999999-2279999</Range>"),
                  "group 978-0, rule 1999999-2279999 (Length 3): the rule overlaps or precedes the rule before it")
CASES.append(OVERLAP_BY_ONE)

if EXPORTS:
    for name, edit, _ in CASES:
        print(json.dumps({"name": name, "xml": edit(REAL)}))
    sys.exit(0)

failures = 0
with tempfile.TemporaryDirectory() as tmp:
    path = os.path.join(tmp, "RangeMessage.xml")
    for name, edit in ACCEPTED:
        with open(path, "w", encoding="utf-8") as f:
            f.write(edit(REAL))
        run_time = subprocess.run([orvane, "--ranges=" + path, "0201633612"], capture_output=True, text=True)
        build_time = subprocess.run([reader, path], capture_output=True, text=True)
        if run_time.returncode != 0 or run_time.stderr or build_time.returncode != 0 or build_time.stderr:
            failures += 1
            print(f"FAILED {name}: refused: {run_time.stderr!r} {build_time.stderr!r}")
    for name, edit, message in CASES:
        with open(path, "w", encoding="utf-8") as f:
            f.write(edit(REAL))
        run_time = subprocess.run([orvane, "--ranges=" + path, "0201633612"], capture_output=True, text=True)
        build_time = subprocess.run([reader, path], capture_output=True, text=True)
        want = f"{path}: {message}\n"
        if (run_time.returncode, run_time.stdout, run_time.stderr) != (1, "", "?? " + want):
            failures += 1
            print(f"FAILED {name} at run time: {run_time.returncode} {run_time.stdout!r} {run_time.stderr!r}")
        if (build_time.returncode, build_time.stdout, build_time.stderr) != (1, "", want):
            failures += 1
            print(f"FAILED {name} at build time: {build_time.returncode} {build_time.stderr!r}")
    # The converter of the build says the same, without a traceback, and writes nothing.
    with open(path, "w", encoding="utf-8") as f:
        f.write(CASES[4][1](REAL))
    out = os.path.join(tmp, "isbn-ranges.txt")
    converted = subprocess.run([sys.executable, os.path.join(source, "tools", "convert_range_message.py"),
                                "--reader", reader, path, out], capture_output=True, text=True)
    if converted.returncode == 0 or converted.stderr != f"convert_range_message: {path}: {CASES[4][2]}\n" \
            or os.path.exists(out):
        failures += 1
        print(f"FAILED the converter: {converted.returncode} {converted.stderr!r}")
    # A missing export stops the configuration with a clear message.
    configured = subprocess.run([cmake, "-S", source, "-B", os.path.join(tmp, "build"), "-DORVANE_TESTS=OFF",
                                 "-DORVANE_RANGE_MESSAGE=" + os.path.join(tmp, "missing.xml")],
                                capture_output=True, text=True)
    if configured.returncode == 0 or "ORVANE_RANGE_MESSAGE: no such file:" not in configured.stderr:
        failures += 1
        print(f"FAILED a missing export: {configured.returncode} {configured.stderr[-300:]!r}")

# Hostile files end with the same one line and status 1, in little memory (the run is held to 64
# MiB of address space where no sanitizer needs more): a device without end and a file of a
# single comment, refused by their size; many thousands of distinct, valid groups, refused as
# soon as they cannot fit; one group of a quarter of a million rules; elements nested millions
# deep, refused at the first that no export has.
HEAD = '<?xml version="1.0"?><ISBNRangeMessage><MessageDate>x</MessageDate><RegistrationGroups>\n'
GROUP = "<Group><Prefix>978-{:07d}</Prefix><Agency>A</Agency><Rules>" + rule("0000000", "9999999", 1) + "</Rules></Group>\n"
LIMIT = None if os.environ.get("ORVANE_SANITIZED") else 64 << 20
with tempfile.TemporaryDirectory() as tmp:
    hostile = [
        ("a pipe without end", "/dev/stdin", None, "larger than 16 MiB, far more than a range export"),
        ("one comment of 17 MiB", os.path.join(tmp, "comment.xml"),
         '<?xml version="1.0"?><ISBNRangeMessage><!--' + "x" * (17 << 20), "larger than 16 MiB, far more than a range export"),
        ("80,000 groups", os.path.join(tmp, "groups.xml"),
         HEAD + "".join(GROUP.format(i) for i in range(80000)) + "</RegistrationGroups></ISBNRangeMessage>\n",
         "group 978-0002560: more ranges than the table's 2560 rows"),
        ("one group of 250,000 rules", os.path.join(tmp, "rules.xml"),
         HEAD + "<Group><Prefix>978-0</Prefix><Agency>A</Agency><Rules>" + rule("0000000", "0999999", 1)
         + rule("0000000", "0999999", 1) * 250000 + "</Rules></Group></RegistrationGroups></ISBNRangeMessage>\n",
         "group 978-0, rule 0000000-0999999 (Length 1): the rule overlaps or precedes the rule before it"),
        ("16 MiB of nested elements", os.path.join(tmp, "nested.xml"),
         '<?xml version="1.0"?>' + "<a>" * ((16 << 20) // 3 - 10),
         "line 1: elements nested more than 16 deep, far deeper than a range export"),
    ]
    for name, path, text, message in hostile:
        if text is not None:
            with open(path, "w") as f:
                f.write(text)
        limit = (lambda: resource.setrlimit(resource.RLIMIT_AS, (LIMIT, LIMIT))) if LIMIT else None
        # Without a file, an endless stream of XML comments on standard input.
        endless = subprocess.Popen(["yes", "<!-- a comment -->"], stdout=subprocess.PIPE) if text is None else None
        run_time = subprocess.run([orvane, "--ranges=" + path, "0201633612"], capture_output=True, text=True,
                                  preexec_fn=limit, stdin=endless.stdout if endless else subprocess.DEVNULL)
        if endless:
            endless.kill()
            endless.wait()
        if (run_time.returncode, run_time.stdout, run_time.stderr) != (1, "", f"?? {path}: {message}\n"):
            failures += 1
            print(f"FAILED {name}: {run_time.returncode} {run_time.stdout!r} {run_time.stderr[:300]!r}")

total = 2 * len(CASES) + 2 + len(hostile)
print(f"{total - failures} passed, {failures} failed")
sys.exit(1 if failures else 0)
