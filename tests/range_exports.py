#!/usr/bin/env python3
"""Real range exports of the agency, through the built binary: every rule's lowest and highest
numbers, and their neighbours just outside the rule, as ISBN-10 (978 only) and ISBN-13, come out
of orvane --ranges=EXPORT split as the export's rules say. With a second binary built with
-DORVANE_RANGE_MESSAGE=EXPORT, that binary writes exactly the same without the option.

    range_exports.py ORVANE EXPORT [BUILT_FROM_EXPORT]

The expected splits come from this script's own reading of the XML, not from orvane's reader.
"""
import os
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from check_digits import check10, check13  # noqa: E402

orvane, export = sys.argv[1], sys.argv[2]
built = sys.argv[3] if len(sys.argv) > 3 else None

groups = {}   # (prefix, digits) -> [(low, high, length)]
for group in ElementTree.parse(export).getroot().iterfind("RegistrationGroups/Group"):
    prefix, digits = group.findtext("Prefix").strip().split("-")
    rules = []
    for rule in group.iterfind("Rules/Rule"):
        low, high = rule.findtext("Range").strip().split("-")
        rules.append((low, high, int(rule.findtext("Length").strip())))
    groups[(prefix, digits)] = rules


def split(prefix, digits, body):
    """The parts of the 9 digits after the prefix: group, publisher, title; None if unplaced."""
    rest = body[len(digits):]
    for low, high, length in groups[(prefix, digits)]:
        if length and low[:length] <= rest[:length] <= high[:length]:
            return [digits, rest[:length], rest[length:]]
    return None


def numbers():
    """(input, expected output) for the ends of every rule and their outer neighbours."""
    for (prefix, digits), rules in groups.items():
        room = 9 - len(digits)
        for low, high, _ in rules:
            ends = [low[:room].ljust(room, "0"), high[:room].ljust(room, "9")]
            below = int(ends[0]) - 1
            above = int(ends[1]) + 1
            if below >= 0:
                ends.append(str(below).zfill(room))
            if above < 10 ** room:
                ends.append(str(above).zfill(room))
            for rest in ends:
                body = digits + rest
                parts = split(prefix, digits, body)
                thirteen = prefix + body + check13(prefix + body)
                yield thirteen, "-".join([prefix, *parts, thirteen[-1]]) if parts else thirteen
                if prefix == "978":
                    ten = body + check10(body)
                    yield ten, "-".join([*parts, ten[-1]]) if parts else ten


def run(binary, args):
    result = subprocess.run([binary, *args], capture_output=True, text=True)
    return result.returncode, result.stdout, result.stderr


cases = list(numbers())
failures = 0
for start in range(0, len(cases), 2000):
    batch = cases[start:start + 2000]
    inputs = [number for number, _ in batch]
    status, out, err = run(orvane, ["--ranges=" + export, *inputs])
    got = out.rstrip("\n").split(" ")
    if status != 0 or err or len(got) != len(batch):
        sys.exit(f"orvane --ranges failed: status {status}, {err[:300]!r}")
    for (number, want), have in zip(batch, got):
        if have != want:
            failures += 1
            if failures <= 10:
                print(f"FAILED: {number}: expected {want}, got {have}")
    if built:
        status, fresh, err = run(built, inputs)
        if (status, fresh, err) != (0, out, ""):
            failures += 1
            print(f"the build from the export disagrees with --ranges on numbers {start} to {start + len(batch)}")
print(f"{len(cases) - failures} passed, {failures} failed")
sys.exit(1 if failures else 0)
