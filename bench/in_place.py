#!/usr/bin/env python3
"""Times orvane --bibtex --in-place on a copy of a corpus against orvane --bibtex < corpus > out,
and against the same followed by an fsync of out (the flush to disk that in-place does and a
plain redirection does not), in interleaved rounds: before each run a fresh copy of the corpus is
made, the last output removed and the disk synced (untimed), and the runs of a round go in an
order that turns from round to round. Prints the median times and the median over the rounds of
the ratio within the round.

    bench/in_place.py ORVANE CORPUS WORKDIR [ROUNDS]
"""
import os
import shutil
import statistics
import subprocess
import sys
import time


def timed(command, flush=None, **redirections):
    start = time.perf_counter()
    subprocess.run(command, check=True, **redirections)
    if flush:
        descriptor = os.open(flush, os.O_RDONLY)
        os.fsync(descriptor)
        os.close(descriptor)
    return time.perf_counter() - start


def main():
    orvane, corpus, work = sys.argv[1:4]
    rounds = int(sys.argv[4]) if len(sys.argv) > 4 else 11
    copy, out = os.path.join(work, "in-place.bib"), os.path.join(work, "filtered.bib")
    times = {"in place": [], "filter": [], "filter and fsync": []}
    for round_number in range(rounds + 1):
        runs = [("in place", lambda: timed([orvane, "--bibtex", "--in-place", copy], stderr=subprocess.DEVNULL)),
                ("filter", lambda: timed([orvane, "--bibtex"], stdin=open(corpus, "rb"), stdout=open(out, "wb"),
                                         stderr=subprocess.DEVNULL)),
                ("filter and fsync", lambda: timed([orvane, "--bibtex"], flush=out, stdin=open(corpus, "rb"),
                                                   stdout=open(out, "wb"), stderr=subprocess.DEVNULL))]
        turn = round_number % len(runs)
        for name, run in runs[turn:] + runs[:turn]:
            shutil.copyfile(corpus, copy)
            if os.path.exists(out):
                os.remove(out)
            subprocess.run(["sync"], check=True)
            elapsed = run()
            if round_number > 0:  # the first round warms the caches
                times[name].append(elapsed)
    shutil.copyfile(corpus, copy)
    timed([orvane, "--bibtex", "--in-place", copy], stderr=subprocess.DEVNULL)
    with open(copy, "rb") as a, open(out, "rb") as b:
        if a.read() != b.read():
            sys.exit("in_place.py: the file rewritten in place differs from the filter's output")
    for name, values in times.items():
        print(f"{name}: {statistics.median(values) * 1000:.0f} ms")
    for name in ("filter", "filter and fsync"):
        ratio = statistics.median(i / f for i, f in zip(times["in place"], times[name]))
        print(f"in place / {name}: {ratio:.2f}x")
    os.remove(copy)
    os.remove(out)


if __name__ == "__main__":
    main()
