#!/usr/bin/env python3
"""Runs the orvane binary once per row of a table of cases and compares standard output,
standard error and exit status byte for byte.

    run_table.py ORVANE TABLE.py

A table module defines CASES, a list of rows (name, arguments, stdin, stdout, stderr, status):
the arguments a list of str, the three streams bytes, the status an int.
"""
import importlib.util
import subprocess
import sys


def main():
    binary, table = sys.argv[1], sys.argv[2]
    table_spec = importlib.util.spec_from_file_location("table", table)
    module = importlib.util.module_from_spec(table_spec)
    table_spec.loader.exec_module(module)
    failed = 0
    for name, args, stdin, stdout, stderr, status in module.CASES:
        result = subprocess.run([binary, *args], input=stdin, capture_output=True)
        got = (result.stdout, result.stderr, result.returncode)
        if got != (stdout, stderr, status):
            failed += 1
            print(f"FAILED {name}")
            for what, want, have in zip(("stdout", "stderr", "status"), (stdout, stderr, status), got):
                if want != have:
                    print(f"  {what}\n    expected {want!r}\n    got      {have!r}")
    print(f"{len(module.CASES) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
