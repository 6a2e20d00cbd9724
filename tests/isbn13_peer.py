#!/usr/bin/env python3
"""orvane --isbn13 against an independent converter: python-stdnum's to_isbn13 and its
formatting, on a large random sample of ISBN-10s (a fixed seed). Where the two range tables
split a number's ISBN-13 alike (orvane's own hyphenation of the ISBN-13 and stdnum's format of
it agree: ranges both know), orvane --isbn13 must write for the ISBN-10 exactly what stdnum
makes of it. Runs under a Python that has stdnum (Debian's python3-stdnum is installed for
/usr/bin/python3); where none has it, says so and passes.

    isbn13_peer.py ORVANE
"""
import os
import random
import subprocess
import sys

try:
    from stdnum import isbn
except ImportError:
    if os.path.exists("/usr/bin/python3") and sys.executable != "/usr/bin/python3":
        os.execv("/usr/bin/python3", ["/usr/bin/python3", *sys.argv])
    print("python-stdnum is not installed: the comparison is left out")
    print("0 passed, 0 failed")
    sys.exit(0)

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from check_digits import check10  # noqa: E402

ORVANE = sys.argv[1]


def orvane(args, numbers):
    out = []
    for start in range(0, len(numbers), 2000):
        result = subprocess.run([ORVANE, *args, *numbers[start:start + 2000]], capture_output=True, text=True)
        out += result.stdout.split()
    return out


r = random.Random(31)
tens = []
for _ in range(30000):
    nine = "%09d" % r.randrange(10 ** 9)
    tens.append(nine + check10(nine))
thirteens = [isbn.to_isbn13(n) for n in tens]
# Ranges both know: orvane's split of the ISBN-13 is stdnum's.
theirs = [isbn.format(n) for n in thirteens]
ours_13 = orvane([], thirteens)
both = [i for i in range(len(tens)) if ours_13[i] == theirs[i] and "-" in theirs[i]]
converted = orvane(["--isbn13"], tens)
failures = 0
for i in both:
    if converted[i] != theirs[i]:
        failures += 1
        if failures <= 10:
            print(f"FAILED {tens[i]}: orvane --isbn13 wrote {converted[i]}, stdnum {theirs[i]}")
# The sample must mean something: most random numbers fall in ranges both know.
if len(both) < len(tens) // 2:
    failures += 1
    print(f"FAILED: only {len(both)} of {len(tens)} numbers in ranges both know")
print(f"{len(both) - failures} passed, {failures} failed")
sys.exit(1 if failures else 0)
