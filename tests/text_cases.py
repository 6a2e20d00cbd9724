#!/usr/bin/env python3
"""Every end-to-end case with a text input whose options the page and the library face also
take (--bibtex, --isbn13, --ranges=FILE): the rows of the command-line and BibTeX tables that
read standard input, and the case directories with an input file. Writes them as JSON lines,
{"name", "options", "ranges", "input" (base64)}, for the browser tests, which hold the page and
the WebAssembly module to the command line's answer on each.

    text_cases.py > cases.jsonl
"""
import base64
import json
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import bibtex_cases  # noqa: E402
import command_line_cases  # noqa: E402


def page_options(args):
    """The options as the page sets them, or None where the case needs something else: a text
    argument, a file mode, a missing export."""
    options, ranges = [], None
    for arg in args:
        if arg in ("--bibtex", "--isbn13"):
            options.append(arg)
        elif arg.startswith("--ranges=") and os.path.isfile(arg[len("--ranges="):]):
            ranges = arg[len("--ranges="):]
        else:
            return None
    return options, ranges


def emit(name, args, stdin):
    chosen = page_options(args)
    if chosen is None:
        return
    options, ranges = chosen
    print(json.dumps({"name": name, "options": options, "ranges": ranges,
                      "input": base64.b64encode(stdin).decode("ascii")}))


for module in (command_line_cases, bibtex_cases):
    for name, args, stdin, _, _, _, *more in module.CASES:
        if stdin and not (more and more[0]):
            emit(f"{module.__name__}: {name}", args, stdin)
cases = os.path.join(HERE, "cases")
for case in sorted(os.listdir(cases)):
    directory = os.path.join(cases, case)
    if not os.path.isfile(os.path.join(directory, "input")) or os.path.exists(os.path.join(directory, "stdout-full")):
        continue
    args = []
    if os.path.exists(os.path.join(directory, "args")):
        with open(os.path.join(directory, "args"), encoding="utf-8") as f:
            args = f.read().splitlines()
    with open(os.path.join(directory, "input"), "rb") as f:
        emit(f"cases/{case}", args, f.read())
