#!/usr/bin/env python3
"""Prints the benchmark table from the results of bench/run.sh."""
import json
import os
import re
import statistics
import sys

corpus, results = sys.argv[1:3]


def median(path, name):
    return statistics.median(times(path, name))


def hyphenated_ISBNs(output):
    """The ISBNs that come out hyphenated: in the dense corpus, the lines "ISBN <valid ISBN>"
    (the invalid ones stand on "isbn = {...}," lines, and URL lines are left alone)."""
    shape = re.compile(rb"^ISBN [0-9]+(-[0-9]+){2,3}-[0-9Xx]$")
    with open(output, "rb") as f:
        return sum(1 for line in f if shape.match(line.rstrip(b"\n")))


def times(path, name):
    with open(path) as f:
        for result in json.load(f)["results"]:
            if result["command"] == name:
                return result["times"]
    raise KeyError(name)


def ratio(path, command):
    """The median over the rounds of the ratio to cat's time in the same round."""
    return statistics.median(t / c for t, c in zip(times(path, command), times(path, "cat")))


def ratio_over_truncation(name, command):
    """The ratio to cat when each run writes over the last run's output."""
    return ratio(os.path.join(results, name + "-truncating.json"), command)


print("| corpus | size | cat | orvane | orvane / cat | over the last output | orvane MB/s | stdnum peer "
      "| orvane speed-up | peak memory |")
print("| --- | --- | --- | --- | --- | --- | --- | --- | --- | --- |")
for name in ("prose", "bib", "dense"):
    size = os.path.getsize(os.path.join(corpus, name + ".txt"))
    cat = median(os.path.join(results, name + ".json"), "cat")
    orvane = median(os.path.join(results, name + ".json"), "orvane")
    stdnum = median(os.path.join(results, name + "-stdnum.json"), "stdnum")
    with open(os.path.join(results, name + ".peak")) as f:
        peak = int(f.read().split()[-1])
    print(f"| {name} | {size / 1e6:.1f} MB | {cat * 1e3:.0f} ms | {orvane * 1e3:.0f} ms "
          f"| {ratio(os.path.join(results, name + '.json'), 'orvane'):.2f}x "
          f"| {ratio_over_truncation(name, 'orvane'):.2f}x | {size / orvane / 1e6:.0f} | {stdnum * 1e3:.0f} ms "
          f"| {stdnum / orvane:.0f}x | {peak / 1024:.1f} MiB |")

count = hyphenated_ISBNs(os.path.join(results, "dense.out"))
seconds = median(os.path.join(results, "dense.json"), "orvane")
stdnum = median(os.path.join(results, "dense-stdnum.json"), "stdnum")
print()
print(f"dense: {count} ISBNs hyphenated; orvane {count / seconds / 1e6:.2f} million per second, "
      f"the stdnum peer {count / stdnum / 1e6:.2f} million per second")
with open(os.path.join(results, "callgrind.log")) as f:
    log = f.read()
instructions = int(re.search(r"Collected : (\d+)", log).group(1))
with open(os.path.join(results, "dense-100k.txt"), "rb") as f:
    lines = sum(1 for _ in f)
print(f"dense: {instructions / lines:.0f} instructions per input line (callgrind, {lines} lines)")

bib_size = os.path.getsize(os.path.join(corpus, "bib.txt"))
bib_times = {name: median(os.path.join(results, "bib.json"), name) for name in ("cat", "orvane", "bibtex")}
with open(os.path.join(results, "bibtex.peak")) as f:
    peak = int(f.read().split()[-1])
sample = os.path.getsize(os.path.join(results, "bib-5mb.txt"))
per_byte = {}
for mode in ("bib", "bibtex"):
    with open(os.path.join(results, f"callgrind-{mode}.log")) as f:
        per_byte[mode] = int(re.search(r"Collected : (\d+)", f.read()).group(1)) / sample
print()
print("| bib corpus | time | / cat | over the last output | MB/s | instructions per byte | peak memory |")
print("| --- | --- | --- | --- | --- | --- | --- |")
print(f"| cat | {bib_times['cat'] * 1e3:.0f} ms | 1.00x | 1.00x | {bib_size / bib_times['cat'] / 1e6:.0f} | | |")
bib_json = os.path.join(results, "bib.json")
print(f"| orvane | {bib_times['orvane'] * 1e3:.0f} ms | {ratio(bib_json, 'orvane'):.2f}x "
      f"| {ratio_over_truncation('bib', 'orvane'):.2f}x | {bib_size / bib_times['orvane'] / 1e6:.0f} "
      f"| {per_byte['bib']:.2f} | |")
print(f"| orvane --bibtex | {bib_times['bibtex'] * 1e3:.0f} ms | {ratio(bib_json, 'bibtex'):.2f}x "
      f"| {ratio_over_truncation('bib', 'bibtex'):.2f}x | {bib_size / bib_times['bibtex'] / 1e6:.0f} "
      f"| {per_byte['bibtex']:.2f} | {peak / 1024:.1f} MiB |")

print()
with open(os.path.join(results, "in-place.txt")) as f:
    print("--bibtex --in-place on a copy of the bib corpus: " + "; ".join(f.read().split("\n")).strip("; "))
