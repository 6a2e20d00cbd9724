#!/usr/bin/env python3
"""Writes the benchmark corpora, the same bytes for the same arguments.

    bench/make_corpus.py OUTDIR [--scale 1.0]

dense.txt  about 1,000,000 lines, most with a valid ISBN-10 or ISBN-13 from a random row of the
           range table (hyphenated or not), some invalid, some URL lines
bib.txt    about 100 MB of BibTeX-like entries, an ISBN in about one entry in ten, with DOIs,
           URLs, page ranges, years and abstracts
prose.txt  about 100 MB of text without a digit
"""
import argparse
import os
import random
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tools"))
import isbn_ranges  # noqa: E402
from check_digits import check10, check13  # noqa: E402

WORDS = ("the of and a to in is was for on that by with as from at an be this which are or it "
         "book press edition volume history theory university journal review study language "
         "analysis method system data model early modern world new introduction society").split()


def isbn_maker(rng, groups):
    rows = [(g.prefix, g.digits, low, high) for g in groups for low, high in g.ranges]

    def make(valid=True):
        prefix, group, low, high = rng.choice(rows)
        publisher = str(rng.randint(int(low), int(high))).zfill(len(low))
        title = "".join(rng.choice("0123456789") for _ in range(9 - len(group) - len(publisher)))
        body = group + publisher + title
        if prefix == "978" and rng.random() < 0.4:
            text, parts = body + check10(body), [group, publisher, title]
        else:
            text, parts = prefix + body + check13(prefix + body), [prefix, group, publisher, title]
        if not valid:
            text = text[:-1] + str((int(text[-1]) + 1) % 10 if text[-1] != "X" else 0)
        if rng.random() < 0.3:
            text = "-".join(parts) + "-" + text[-1]
        return text

    return make


def words(rng, n):
    return " ".join(rng.choice(WORDS) for _ in range(n))


def dense(rng, make, lines):
    out = []
    for i in range(lines):
        r = rng.random()
        if r < 0.90:
            out.append(f"ISBN {make()}")
        elif r < 0.95:
            out.append(f"isbn = {{{make(valid=False)}}},")
        else:
            out.append(f"https://example.org/isbn/{make()}")
    return "\n".join(out) + "\n"


def bib(rng, make, size):
    out = []
    total = 0
    n = 0
    while total < size:
        n += 1
        year = rng.randint(1850, 2025)
        first = rng.randint(1, 900)
        entry = [
            f"@book{{key{n},",
            f"  author    = {{{words(rng, 2).title()} and {words(rng, 2).title()}}},",
            f"  title     = {{{words(rng, rng.randint(3, 9)).capitalize()}}},",
            f"  year      = {{{year}}},",
            f"  pages     = {{{first}--{first + rng.randint(1, 60)}}},",
            f"  doi       = {{10.{rng.randint(1000, 9999)}/{words(rng, 1)}.{year}.{rng.randint(1, 99999)}}},",
        ]
        if rng.random() < 0.3:
            entry.append(f"  url       = {{https://example.org/{words(rng, 1)}/{rng.randint(1, 10**6)}}},")
        if rng.random() < 0.1:
            entry.append(f"  isbn      = {{{make(valid=rng.random() < 0.95)}}},")
        entry.append(f"  abstract  = {{{words(rng, rng.randint(30, 120)).capitalize()}.}},")
        entry.append("}\n")
        text = "\n".join(entry) + "\n"
        out.append(text)
        total += len(text)
    return "".join(out)


def prose(rng, size):
    out = []
    total = 0
    while total < size:
        line = words(rng, rng.randint(6, 16)).capitalize() + ".\n"
        out.append(line)
        total += len(line)
    return "".join(out)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("outdir")
    parser.add_argument("--scale", type=float, default=1.0, help="fraction of the full sizes")
    args = parser.parse_args()
    _, groups = isbn_ranges.read(os.path.join(os.path.dirname(__file__), "..", "data", "isbn-ranges.txt"))
    os.makedirs(args.outdir, exist_ok=True)
    corpora = {
        "dense.txt": lambda rng: dense(rng, isbn_maker(rng, groups), int(1_000_000 * args.scale)),
        "bib.txt": lambda rng: bib(rng, isbn_maker(rng, groups), int(100_000_000 * args.scale)),
        "prose.txt": lambda rng: prose(rng, int(100_000_000 * args.scale)),
    }
    for name, make in corpora.items():
        with open(os.path.join(args.outdir, name), "w", encoding="ascii", newline="\n") as f:
            f.write(make(random.Random(name)))


if __name__ == "__main__":
    main()
