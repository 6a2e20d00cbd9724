#!/usr/bin/env python3
"""Times orvane --bibtex --in-place on a copy of a corpus against orvane --bibtex < corpus > out,
in interleaved rounds. The runs of a round, in an order that turns from round to round:

    in place            a fresh copy of the corpus, rewritten in place
    in place, unchanged a fresh copy of the corpus as in place leaves it: read, not rewritten
    check, unchanged    the same copy read by orvane --check, which writes nothing either
    filter              out removed before the run: a fresh file
    filter over old     out left from the last run: the shell truncates 100 MB first, as in place
                        releases the old file after its rename
    filter and fsync    a fresh out, followed by an fsync of it: the flush to disk that in place
                        does and a plain redirection does not

Before each run its files are made and the disk synced (untimed). Prints the median times and
the median over the rounds of the ratio within the round.

    bench/in_place.py ORVANE CORPUS WORKDIR [ROUNDS]
"""
import os
import shutil
import statistics
import subprocess
import sys
import time


def timed(command, flush=None, output=None, check=True, **redirections):
    start = time.perf_counter()
    if output:  # opened in the timed part, as a shell's > is: truncating an old file takes time
        with open(output, "wb") as stdout:
            subprocess.run(command, check=True, stdout=stdout, **redirections)
    else:
        subprocess.run(command, check=check, **redirections)
    if flush:
        descriptor = os.open(flush, os.O_RDONLY)
        os.fsync(descriptor)
        os.close(descriptor)
    return time.perf_counter() - start


def main():
    orvane, corpus, work = sys.argv[1:4]
    rounds = int(sys.argv[4]) if len(sys.argv) > 4 else 11
    copy, out = os.path.join(work, "in-place.bib"), os.path.join(work, "filtered.bib")
    done = os.path.join(work, "done.bib")
    quiet = {"stderr": subprocess.DEVNULL}
    subprocess.run([orvane, "--bibtex"], stdin=open(corpus, "rb"), stdout=open(done, "wb"), **quiet)

    def filtering(flush=None):
        return lambda: timed([orvane, "--bibtex"], flush=flush, output=out, stdin=open(corpus, "rb"), **quiet)

    def fresh_out():
        if os.path.exists(out):
            os.remove(out)

    runs = [("in place", lambda: shutil.copyfile(corpus, copy), lambda: timed([orvane, "--bibtex", "--in-place", copy], **quiet)),
            ("in place, unchanged", lambda: shutil.copyfile(done, copy),
             lambda: timed([orvane, "--bibtex", "--in-place", copy], **quiet)),
            ("check, unchanged", lambda: shutil.copyfile(done, copy),
             lambda: timed([orvane, "--bibtex", "--check", copy], check=False, **quiet)),
            ("filter", fresh_out, filtering()),
            ("filter over old", lambda: shutil.copyfile(done, out), filtering()),
            ("filter and fsync", fresh_out, filtering(flush=out))]
    times = {name: [] for name, _, _ in runs}
    for round_number in range(rounds + 1):
        turn = round_number % len(runs)
        for name, prepare, run in runs[turn:] + runs[:turn]:
            prepare()
            subprocess.run(["sync"], check=True)
            elapsed = run()
            if round_number > 0:  # the first round warms the caches
                times[name].append(elapsed)
    shutil.copyfile(corpus, copy)
    timed([orvane, "--bibtex", "--in-place", copy], **quiet)
    with open(copy, "rb") as a, open(done, "rb") as b:
        if a.read() != b.read():
            sys.exit("in_place.py: the file rewritten in place differs from the filter's output")
    for name, values in times.items():
        print(f"{name}: {statistics.median(values) * 1000:.0f} ms")
    for mine, theirs in (("in place", "filter"), ("in place", "filter over old"), ("in place", "filter and fsync"),
                         ("in place, unchanged", "filter"), ("in place, unchanged", "check, unchanged")):
        ratio = statistics.median(i / f for i, f in zip(times[mine], times[theirs]))
        print(f"{mine} / {theirs}: {ratio:.2f}x")
    for path in (copy, out, done):
        if os.path.exists(path):
            os.remove(path)


if __name__ == "__main__":
    main()
