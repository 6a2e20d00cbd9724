#!/usr/bin/env python3
"""Runs the orvane binary once per row of a table of cases and compares standard output,
standard error and exit status byte for byte.

    run_table.py ORVANE TABLE.py [WORD ...]     with words, only the rows whose names hold one

A table module defines CASES, a list of rows (name, arguments, stdin, stdout, stderr, status),
and optionally a seventh item, the environment variables to set (a dict; an empty value is set
empty): the arguments a list of str, the three streams bytes, the status an int. ISBN_RANGE_MESSAGE
is unset unless a row sets it. A row with an input
also runs with that input read one line at a time and one byte at a time, so that every line
end, and every byte, is also the end of a block.
"""
import importlib.util
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import paced_input  # noqa: E402


def main():
    binary, table = sys.argv[1], sys.argv[2]
    table_spec = importlib.util.spec_from_file_location("table", table)
    module = importlib.util.module_from_spec(table_spec)
    table_spec.loader.exec_module(module)
    words = sys.argv[3:]
    cases = [case for case in module.CASES if not words or any(word in case[0] for word in words)]
    if not cases:
        print(f"no row of {table} is named with any of {words}")
        return 1
    failed = 0
    base = {k: v for k, v in os.environ.items() if k != "ISBN_RANGE_MESSAGE"}
    for name, args, stdin, stdout, stderr, status, *more in cases:
        environment = dict(base, **(more[0] if more else {}))
        for way in ("whole", "lines", "bytes") if stdin else ("whole",):
            if way == "whole":
                result = subprocess.run([binary, *args], input=stdin, capture_output=True, env=environment)
            else:
                result = paced_input.run([binary, *args], stdin, way, env=environment)
            got = (result.stdout, result.stderr, result.returncode)
            if got != (stdout, stderr, status):
                failed += 1
                print(f"FAILED {name} ({way})")
                for what, want, have in zip(("stdout", "stderr", "status"), (stdout, stderr, status), got):
                    if want != have:
                        print(f"  {what}\n    expected {want!r}\n    got      {have!r}")
    print(f"{len(cases) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
