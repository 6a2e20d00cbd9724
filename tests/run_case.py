#!/usr/bin/env python3
"""Runs the orvane binary on one case directory and compares its results byte for byte. A case
with an input runs with the input file as standard input, through a pipe in one write, through a
pipe that orvane reads one line at a time, and, for inputs of up to SHORT bytes, one byte at a
time: every line end, and every byte, is then also the end of a block.

A case directory holds:
  args             the arguments, one a line (an empty line is an empty argument); absent: none
  input            standard input; absent: empty input
  stdin-directory  if present, standard input is a directory
  stdout-full      if present, standard output is /dev/full
  expected.stdout, expected.stderr, expected.status   absent: empty, empty, 0
"""
import os
import subprocess
import sys

import paced_input

SHORT = 2000


def read(path, default=b""):
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return default


def main():
    binary, case = sys.argv[1], sys.argv[2]
    args = []
    if os.path.exists(os.path.join(case, "args")):
        text = read(os.path.join(case, "args")).decode("utf-8")
        args = text[:-1].split("\n") if text.endswith("\n") else text.split("\n")
    stdout_full = os.path.exists(os.path.join(case, "stdout-full"))
    input_path = os.path.join(case, "input")
    if os.path.exists(os.path.join(case, "stdin-directory")):
        ways = ["directory"]
    elif os.path.exists(input_path):
        ways = ["file", "pipe"]
        if not stdout_full:
            ways += ["lines"] + (["bytes"] if os.path.getsize(input_path) <= SHORT else [])
    else:
        ways = ["none"]
    failed = False
    for way in ways:
        stdout = open("/dev/full", "wb") if stdout_full else subprocess.PIPE
        if way in ("lines", "bytes"):
            result = paced_input.run([binary] + args, read(input_path), way)
        elif way == "pipe":
            result = subprocess.run([binary] + args, input=read(input_path), stdout=stdout, stderr=subprocess.PIPE)
        else:
            path = {"directory": case, "file": input_path, "none": os.devnull}[way]
            stdin = os.open(path, os.O_RDONLY)
            result = subprocess.run([binary] + args, stdin=stdin, stdout=stdout, stderr=subprocess.PIPE)
            os.close(stdin)
        got = {
            "stdout": result.stdout or b"",
            "stderr": result.stderr,
            "status": str(result.returncode).encode() + b"\n",
        }
        for name, value in got.items():
            want = read(os.path.join(case, "expected." + name), b"0\n" if name == "status" else b"")
            if value != want:
                failed = True
                sys.stderr.write(f"{case} ({way}): {name} differs\n--- expected\n{want!r}\n--- got\n{value!r}\n")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
