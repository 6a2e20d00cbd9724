#!/usr/bin/env python3
"""Properties of BibTeX mode on random BibTeX-like input (fixed seed): entries that mix every
construct, well formed and not, ISBN-like numbers in ISBN fields and everywhere else, and
random bytes.

- hyphens are the only thing orvane adds, moves or drops;
- every line it changes lies inside the value of a field whose name contains "isbn";
- a line that holds "://" comes out unchanged;
- text without any '@' comes out unchanged, without a warning;
- argument mode writes what input mode writes for the same entry;
- a line costs its length, however many ISBN fields it holds: 8 MB of entries on one line come
  out as the same entries on lines of their own, within a bound of CPU time that a scan of the
  whole line for each field would overrun many times.
"""
import os
import random
import resource
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from check_digits import check10, check13  # noqa: E402

ORVANE = sys.argv[1]
rng = random.Random(20261211)
failures = 0


def fail(message):
    global failures
    failures += 1
    print("FAILED:", message)


def number():
    """An ISBN-like number: valid or not, hyphenated or not, or a page range or a DOI."""
    kind = rng.random()
    if kind < 0.4:
        body = "".join(rng.choice("0123456789") for _ in range(9))
        text = body + check10(body)
    elif kind < 0.8:
        body = rng.choice(["978", "979"]) + "".join(rng.choice("0123456789") for _ in range(9))
        text = body + check13(body)
    elif kind < 0.9:
        return f"{rng.randint(1, 99999)}-{rng.randint(1, 99999)}"
    else:
        return f"10.1017/978{rng.randint(10**9, 10**10 - 1)}"
    if rng.random() < 0.2:
        text = text[:-1] + rng.choice("0123456789X")
    if rng.random() < 0.3:
        text = "-".join([text[:3], text[3:5], text[5:]])
    return text


def words():
    return " ".join(rng.choice(["the", "of", "press", "a@b.org", "x", number()]) for _ in range(rng.randint(0, 6)))


class Text:
    """The input as lines, with the numbers of the lines that an ISBN value may change."""

    def __init__(self):
        self.parts = []
        self.allowed = set()

    def line(self):
        return "".join(self.parts).count("\n")

    def add(self, text, isbn=False):
        first = self.line()
        self.parts.append(text)
        if isbn:
            self.allowed.update(range(first, self.line() + 1))


def value(text, isbn_field):
    """One value part and what it spans; parts are joined by '#'."""
    shape = rng.random()
    inner = number() if isbn_field or rng.random() < 0.5 else words()
    if shape < 0.45:
        opened = rng.choice(["{", "{{", "{\n  "])
        closed = "}" * opened.count("{")
        text.add(opened + inner + rng.choice(["", "\n", " {x} "]) + closed, isbn_field)
    elif shape < 0.75:
        text.add('"' + rng.choice(["", "{\"}", "{x}", "\n"]) + inner + '"', isbn_field)
    elif shape < 0.9:
        text.add(rng.choice(["2020", "jan", "0201633612", "m"]))
    else:
        text.add('"' + inner + '" # {' + number() + '}', isbn_field)


def entry(text):
    delimiter = rng.choice(["{}", "{}", "()"])
    kind = rng.random()
    if kind < 0.1:
        text.add(f"@{rng.choice(['comment', 'Comment', 'preamble'])}{delimiter[0]}{{isbn = {number()}}} {words()}{delimiter[1]}\n")
        return
    if kind < 0.15:
        text.add(f"@string{delimiter[0]}isbn = \"{number()}\"{delimiter[1]}\n")
        return
    text.add(f"@{rng.choice(['book', 'Article', 'incollection'])}{rng.choice(['', ' ', chr(10)])}{delimiter[0]}"
             f"{rng.choice(['key', 'Smith:2020/x.y', number(), 'a-b+c'])},")
    for _ in range(rng.randint(0, 6)):
        name = rng.choice(["isbn", "ISBN", "isbn13", "eisbn", "print-isbn", "title", "doi", "pages",
                           "note", "file", "isb", "url"])
        isbn_field = "isbn" in name.lower()
        text.add(rng.choice(["\n  ", " ", "\r\n\t"]) + name + rng.choice([" = ", "=", "\n  =  "]))
        value(text, isbn_field)
        if rng.random() < 0.1:
            text.add(" # ")
            value(text, isbn_field)
        if name == "url":
            text.add(" https://example.org/" + number())
        text.add(",")
    broken = rng.random()
    if broken < 0.05:
        text.add("\n  title = {open,\n")           # never closed
    elif broken < 0.08:
        text.add("\n  isbn {" + number() + "}\n")  # no '='
    elif broken < 0.10:
        text.add('\n  note = "open\n')            # unterminated quote
    else:
        text.add(rng.choice(["\n", "", ",\n"]) + delimiter[1] + "\n")


def between(text):
    text.add(rng.choice(["", "\n", "% comment 0201633612 @ x\n", f"{words()}\n", "mail me@example.org\n"]))


text = Text()
for _ in range(3000):
    between(text)
    entry(text)
data = "".join(text.parts).encode()


def run(args, stdin=b""):
    result = subprocess.run([ORVANE, *args], input=stdin, capture_output=True)
    if result.returncode != 0:
        sys.exit(f"orvane exited with {result.returncode}: {result.stderr[-500:]!r}")
    return result.stdout, result.stderr


out, err = run(["--bibtex"], data)
# The same through a file, whose reads end elsewhere than a pipe's.
with tempfile.NamedTemporaryFile() as f:
    f.write(data)
    f.flush()
    with open(f.name, "rb") as stdin:
        from_file = subprocess.run([ORVANE, "--bibtex"], stdin=stdin, capture_output=True)
if (from_file.stdout, from_file.stderr) != (out, err):
    fail("a file and a pipe give different results")
if out.replace(b"-", b"") != data.replace(b"-", b""):
    fail("the output differs from the input in more than hyphens")
changed = 0
for number_, (before, after) in enumerate(zip(data.split(b"\n"), out.split(b"\n"))):
    if before != after:
        changed += 1
        if number_ not in text.allowed:
            fail(f"line {number_ + 1} lies outside every ISBN value but changed: {before!r} -> {after!r}")
        if b"://" in before:
            fail(f"line {number_ + 1} holds :// but changed")
if changed == 0:
    fail("no line changed: the generator lost its ISBN fields")

# Random bytes, heavy in BibTeX's structural bytes.
alphabet = b'@{}()"=,#\n \r%0123456789-xX' + bytes(range(256))
for round_ in range(200):
    noise = bytes(rng.choice(alphabet) for _ in range(rng.randint(0, 2000)))
    noisy_out, _ = run(["--bibtex"], noise)
    if noisy_out.replace(b"-", b"") != noise.replace(b"-", b""):
        fail(f"random bytes, round {round_}: the output differs in more than hyphens")
    plain = noise.replace(b"@", b"")
    plain_out, plain_err = run(["--bibtex"], plain)
    if plain_out != plain or plain_err != b"":
        fail(f"random bytes without '@', round {round_}: changed or warned")

# Argument mode: each entry alone, as an argument and as input.
entries = [e for e in data.split(b"\n@") if b"\0" not in e][:300]
for piece in entries:
    by_argument, _ = run(["--bibtex", b"@" + piece])
    by_input, _ = run(["--bibtex"], b"@" + piece)
    if by_argument != by_input + b"\n":
        fail(f"argument and input mode differ on {piece[:60]!r}")

# One line of 8 MB: the entries of a line each, joined by spaces; with "://" at its end, or in
# its middle, the whole line is left as it is (on a shorter line: what a mark does to a line does
# not depend on its length).
numbers = []
for i in range(2000):
    body = f"{i * 7919 % 1000000000:09d}"
    numbers.append(body + check10(body) if i % 3 else "978" + body + check13("978" + body))
lines = [f"@book{{k{i}, isbn = {{{numbers[i % 2000]}}}, title = {{T}}}}".encode() for i in range(180000)]
cpu_bound = lambda: resource.setrlimit(resource.RLIMIT_CPU, (20, 20))  # noqa: E731
by_lines = subprocess.run([ORVANE, "--bibtex"], input=b"\n".join(lines) + b"\n", capture_output=True)
joined = by_lines.stdout.replace(b"\n", b" ")[:-1] + b"\n"
for name, line, want in (("one line", b" ".join(lines), joined),
                         ("one line ending in ://", b" ".join(lines[:2000]) + b" ://", None),
                         ("one line with :// in its middle", b" ".join(lines[:1000] + [b"://"] + lines[1000:2000]), None)):
    one = subprocess.run([ORVANE, "--bibtex"], input=line + b"\n", capture_output=True, preexec_fn=cpu_bound)
    want = want or line + b"\n"
    if one.returncode != 0 or one.stdout != want:
        fail(f"{name} of {len(line)} bytes: status {one.returncode}, output differs: {one.stdout != want}")

print(f"{len(data)} bytes, {changed} lines changed, {err.count(b'-:')} warnings: {failures} failures")
sys.exit(1 if failures else 0)
