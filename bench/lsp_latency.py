#!/usr/bin/env python3
"""Times orvane --lsp from a change to its diagnostics: a document of the first 1 MB and the first
100 MB of the BibTeX corpus is opened, then changed as an editor changes it (an entry with a
wrong ISBN typed at its end: a range and its text), and the time from sending the change to
receiving the diagnostics is taken, the debounce included. Medians of rounds.

    bench/lsp_latency.py ORVANE CORPUS/bib.txt [ROUNDS]
"""
import os
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
orvane, corpus = sys.argv[1], sys.argv[2]
rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 5
sys.argv = [sys.argv[0], orvane]
import lsp_cases  # noqa: E402  (the server's client, as the tests drive it)

with open(corpus, encoding="latin-1") as f:
    whole = f.read(100_000_000)
print("| document | change to diagnostics (median) |\n| --- | --- |")
for megabytes in (1, 100):
    text = whole[:whole.rfind("\n", 0, megabytes * 1_000_000) + 1]
    session = lsp_cases.Session()
    session.send(lsp_cases.INITIALIZE)
    lsp_cases.answer(session, 1, 60)
    session.send(lsp_cases.opened("file:///bench/refs.bib", text))
    lsp_cases.diagnostics(session, "file:///bench/refs.bib", 120)
    times = []
    end = lsp_cases.position(text.count("\n"), 0)
    for round_ in range(rounds):
        typed = "@book{z%d, isbn = {0201633613}}\n" % round_
        start = time.perf_counter()
        session.send(lsp_cases.notification("textDocument/didChange", {
            "textDocument": {"uri": "file:///bench/refs.bib", "version": round_ + 2},
            "contentChanges": [{"range": {"start": end, "end": end}, "text": typed}]}))
        lsp_cases.diagnostics(session, "file:///bench/refs.bib", 120)
        times.append(time.perf_counter() - start)
    lsp_cases.shut(session)
    session.close()
    print(f"| {megabytes} MB | {1000 * statistics.median(times):.0f} ms |")
