#!/usr/bin/env python3
"""Times BibTeX mode and the default mode on one-line BibTeX files of 1, 4 and 16 MB (times
SCALE), each line many entries with an ISBN field, in interleaved rounds: a line costs its
length, so the time per MB stays the same from one size to the next.

    bench/long_line.py ORVANE RESULTS RUNS [SCALE]

Writes RESULTS/long-line.txt, a table of median user+system seconds and seconds per MB.
"""
import json
import os
import statistics
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from check_digits import check10  # noqa: E402

orvane, results, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
scale = float(sys.argv[4]) if len(sys.argv) > 4 else 1.0
here = os.path.dirname(os.path.abspath(__file__))
rows = []
for megabytes in (1, 4, 16):
    size = int(megabytes * scale * 1_000_000)
    entries = []
    total = 0
    while total < size:
        body = f"{len(entries) * 7919 % 1000000000:09d}"
        entry = f"@book{{k{len(entries)}, isbn = {{{body}{check10(body)}}}, title = {{T}}}} "
        entries.append(entry)
        total += len(entry)
    path = os.path.join(results, f"line-{megabytes}.bib")
    with open(path, "w") as f:
        f.write("".join(entries) + "\n")
    report = os.path.join(results, f"long-line-{megabytes}.json")
    subprocess.run([sys.executable, os.path.join(here, "interleaved.py"), str(runs), "1", "fresh", report,
                    f"bibtex={path}:{results}/long-line.out:/dev/null:{orvane} --bibtex",
                    f"default={path}:{results}/long-line.out:/dev/null:{orvane}"], check=True)
    with open(report) as f:
        measured = json.load(f)
    for result in measured["results"]:
        cpu = statistics.median(u + s for u, s in zip(result["user"], result["system"]))
        rows.append((megabytes * scale, result["command"], len(entries), cpu))
with open(os.path.join(results, "long-line.txt"), "w") as f:
    f.write("| one line of | mode | entries | CPU s (median) | s per MB |\n|---|---|---|---|---|\n")
    for megabytes, mode, count, cpu in rows:
        f.write(f"| {megabytes:g} MB | {mode} | {count} | {cpu:.3f} | {cpu / megabytes:.4f} |\n")
print(open(os.path.join(results, "long-line.txt")).read(), end="")
