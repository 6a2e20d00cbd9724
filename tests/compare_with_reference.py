#!/usr/bin/env python3
"""Runs orvane and the line-by-line reference filter on small versions of the benchmark corpora
and on the end-to-end fixtures, and fails unless both write the same bytes to standard output
and standard error."""
import glob
import os
import subprocess
import sys
import tempfile

orvane, reference, source = sys.argv[1:4]
failed = False
with tempfile.TemporaryDirectory() as corpus:
    subprocess.run([sys.executable, os.path.join(source, "bench", "make_corpus.py"), corpus,
                    "--scale", "0.002"], check=True)
    inputs = sorted(glob.glob(os.path.join(corpus, "*.txt")))
    inputs += sorted(glob.glob(os.path.join(source, "tests", "cases", "*", "input")))
    for path in inputs:
        results = []
        for program in (orvane, reference):
            with open(path, "rb") as stdin:
                results.append(subprocess.run([program], stdin=stdin, capture_output=True))
        fast, plain = results
        for name in ("stdout", "stderr", "returncode"):
            if getattr(fast, name) != getattr(plain, name):
                failed = True
                print(f"{path}: {name} differs from the reference filter")
        warnings = fast.stderr.count(b"\n")
        print(f"{path}: {len(fast.stdout)} bytes out, {warnings} warnings")
sys.exit(1 if failed else 0)
