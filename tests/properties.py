#!/usr/bin/env python3
"""Properties of the built binary on a few thousand random lines (fixed seed) that mix valid and
invalid ISBNs in every form with prose, URLs, NUL and high bytes, and very long lines:

- hyphens are the only thing orvane adds, moves or drops, and a line holding "://" comes out
  unchanged;
- orvane run on its own output writes that output again;
- argument mode writes what input mode writes for the same text, with the same warnings but
  for their line numbers.
"""
import os
import random
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from check_digits import check10, check13  # noqa: E402

ORVANE = sys.argv[1]
rng = random.Random(20261210)


def digits(n):
    return "".join(rng.choice("0123456789") for _ in range(n))


def isbn():
    kind = rng.random()
    if kind < 0.4:
        body = digits(9)
        text = body + check10(body)
    else:
        body = rng.choice(["978", "979", "97910", "97911", "9798", "400", ""]) + digits(12)
        body = body[:12]
        text = body + check13(body)
    if rng.random() < 0.2:
        text = text[:-1] + rng.choice("0123456789Xx")
    if rng.random() < 0.3:
        cut = sorted(rng.sample(range(1, len(text)), 3))
        text = "-".join([text[:cut[0]], text[cut[0]:cut[1]], text[cut[1]:cut[2]], text[cut[2]:]])
    if rng.random() < 0.1:
        text = rng.choice(["-", "x", "X", "--"]) + text if rng.random() < 0.5 else text + "-"
    return text


PIECES = [
    lambda: isbn(), lambda: isbn(), lambda: isbn(),
    lambda: digits(rng.randint(1, 20)),
    lambda: rng.choice(["978", "979"]) + digits(13),
    lambda: "https://example.org/" + isbn(),
    lambda: "doi://10.1000/" + digits(10),
    lambda: rng.choice(["ISBN", "pages", "x", "X-ray", "--", "@book{", "}", "\t", "\r", "caf\u00e9"]),
    lambda: "\0" + isbn(),
    lambda: "\udcff\udcfe",
    lambda: " ".join(rng.choice(["the", "of", "press", "volume"]) for _ in range(rng.randint(1, 8))),
]


def line():
    if rng.random() < 0.005:
        return "7" * rng.randint(4000, 9000) + "-" + isbn() + " " + "a" * 200000
    return " ".join(rng.choice(PIECES)() for _ in range(rng.randint(0, 8)))


def encode(text):
    return text.encode("utf-8", "surrogateescape")


def run(args, data=b""):
    result = subprocess.run([ORVANE, *args], input=data, capture_output=True)
    if result.returncode != 0:
        sys.exit(f"orvane exited with {result.returncode}: {result.stderr[-500:]!r}")
    return result.stdout, result.stderr


lines = [encode(line()) for _ in range(4000)]
text = b"\n".join(lines) + b"\n"
failures = 0

out, err = run([], text)
# The same through a file, whose reads end elsewhere than a pipe's.
with tempfile.NamedTemporaryFile() as f:
    f.write(text)
    f.flush()
    with open(f.name, "rb") as stdin:
        from_file = subprocess.run([ORVANE], stdin=stdin, capture_output=True)
if (from_file.stdout, from_file.stderr) != (out, err):
    failures += 1
    print("a file and a pipe give different results")
# The same written to a regular file: a fresh file, one written from an offset after earlier
# text, and one that is appended to.
with tempfile.TemporaryDirectory() as directory:
    path = os.path.join(directory, "out")
    for start, mode in ((0, "r+b"), (12345, "r+b"), (777, "ab")):
        with open(path, "wb") as f:
            f.write(b"h" * start)
        with open(path, mode) as f:
            f.seek(start)
            to_file = subprocess.run([ORVANE], input=text, stdout=f, stderr=subprocess.PIPE)
        with open(path, "rb") as f:
            written = f.read()
        if (written, to_file.stderr) != (b"h" * start + out, err):
            failures += 1
            print(f"output to a file from offset {start} ({mode}) differs from output to a pipe")
if out.replace(b"-", b"") != text.replace(b"-", b""):
    failures += 1
    print("hyphen property: the output differs from the input in more than hyphens")
out_lines = out.split(b"\n")
for number, (before, after) in enumerate(zip(lines, out_lines), 1):
    if b"://" in before and before != after:
        failures += 1
        print(f"line {number} holds :// but was changed")

again, _ = run([], out)
if again != out:
    failures += 1
    print("idempotence: orvane changed its own output")

# Argument mode: lines without NUL bytes, a batch at a time.
plain = [l for l in lines if b"\0" not in l and len(l) < 100000]
line_number = re.compile(rb"^-:\d+:", re.M)
for start in range(0, len(plain), 200):
    batch = plain[start:start + 200]
    by_arguments, arg_err = run(batch)
    by_input, input_err = run([], b"\n".join(batch) + b"\n")
    if by_arguments != b" ".join(by_input.split(b"\n")[:-1]) + b"\n":
        failures += 1
        print(f"argument mode and input mode disagree on lines {start + 1} to {start + len(batch)}")
    if line_number.sub(b"-:N:", arg_err) != line_number.sub(b"-:N:", input_err):
        failures += 1
        print(f"argument mode and input mode warn differently on lines {start + 1} to {start + len(batch)}")

print(f"{len(lines)} lines, {len(text)} bytes, {err.count(b'-:')} warnings: {failures} failures")
sys.exit(1 if failures else 0)
