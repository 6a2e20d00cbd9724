#!/usr/bin/env python3
"""Runs orvane and the line-by-line reference filter on small versions of the benchmark corpora
and on the end-to-end fixtures, and orvane --bibtex and the plain BibTeX reader on the same
(and on every input of the BibTeX table), and fails unless both write the same bytes to
standard output and standard error."""
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
    sys.path.insert(0, os.path.join(source, "tests"))
    import bibtex_cases  # noqa: E402
    for number, (_, _, stdin, _, _, _) in enumerate(bibtex_cases.CASES):
        path = os.path.join(corpus, f"bibtex-case-{number}.bib")
        with open(path, "wb") as f:
            f.write(stdin)
        inputs.append(path)
    for path in inputs:
        for mode in ([], ["--bibtex"]):
            results = []
            for program in (orvane, reference):
                with open(path, "rb") as stdin:
                    results.append(subprocess.run([program, *mode], stdin=stdin, capture_output=True))
            fast, plain = results
            for name in ("stdout", "stderr", "returncode"):
                if getattr(fast, name) != getattr(plain, name):
                    failed = True
                    print(f"{path} {mode}: {name} differs from the reference")
            warnings = fast.stderr.count(b"\n")
            print(f"{path} {mode}: {len(fast.stdout)} bytes out, {warnings} warnings")
sys.exit(1 if failed else 0)
