#!/usr/bin/env python3
"""orvane --lsp in real editors from Debian, headless: Neovim's own client and Emacs's eglot each
open a .bib holding a wrong and an unhyphenated ISBN, receive the diagnostic of the wrong one at
its range, apply the first code action at the other ("Hyphenate this ISBN") and format; the saved
buffer must be what orvane --bibtex writes for the file. An editor that is not installed is
skipped with the reason.

    editors.py ORVANE
"""
import os
import shutil
import subprocess
import sys
import tempfile

ORVANE = os.path.abspath(sys.argv[1])
HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "editors")
BIB = "@book{k,\n  title = {Caf\u00e9},\n  isbn = {0201633613},\n  isbn = {0201633612},\n}\n".encode()
ACTIONS = ["action Hyphenate this ISBN", "action Write as ISBN-13", "action Hyphenate every ISBN in this file"]
EDITORS = [
    ("neovim", "nvim", lambda d: ["nvim", "--headless", "--clean", "-u", "NONE", "-c",
                                  "luafile " + os.path.join(HERE, "neovim.lua"), "refs.bib"],
     "diagnostic 2:10-2:20 severity 1 invalid ISBN-10 value [0201633613]."),
    ("emacs with eglot", "emacs", lambda d: ["emacs", "--batch", "-Q", "-l", os.path.join(HERE, "eglot.el")],
     "diagnostic 38-48 eglot-error orvane: invalid ISBN-10 value [0201633613]."),
]
want = subprocess.run([ORVANE, "--bibtex"], input=BIB, capture_output=True).stdout
failures = passed = 0
for name, program, command, diagnostic in EDITORS:
    if shutil.which(program) is None or (program == "emacs" and not os.path.isdir("/usr/share/emacs/site-lisp/elpa-src")):
        print(f"skipped: {name} (not installed)")
        continue
    with tempfile.TemporaryDirectory() as d:
        subprocess.run(["git", "init", "-q", d], check=True)  # eglot's project
        with open(os.path.join(d, "refs.bib"), "wb") as f:
            f.write(BIB)
        report = os.path.join(d, "report.txt")
        run = subprocess.run(command(d), cwd=d, capture_output=True, timeout=120,
                             env=dict(os.environ, ORVANE=ORVANE, REPORT=report, HOME=d))
        got = open(os.path.join(d, "refs.bib"), "rb").read()
        lines = open(report).read().splitlines() if os.path.exists(report) else []
        problems = []
        if lines != [diagnostic] + ACTIONS:
            problems.append(f"received {lines} (status {run.returncode}, {run.stderr[-400:]!r})")
        if got != want:
            problems.append(f"the buffer is {got!r}, orvane --bibtex writes {want!r}")
        for problem in problems:
            print(f"FAILED {name}: {problem}")
        failures += 1 if problems else 0
        passed += 0 if problems else 1
print(f"{passed} passed, {failures} failed")
sys.exit(1 if failures else 0)
