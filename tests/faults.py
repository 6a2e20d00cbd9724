#!/usr/bin/env python3
"""Faults around the built binary: every one ends with a truthful exit status, and what was
written before the fault stays written.

    faults.py ORVANE [--peak-only]
"""
import hashlib
import os
import resource
import signal
import subprocess
import sys
import tempfile
import threading

ORVANE = sys.argv[1]
failures = 0


def expect(condition, what):
    global failures
    if not condition:
        failures += 1
        print("FAILED:", what)


def run(args, **kwargs):
    return subprocess.run([ORVANE, *args], capture_output=kwargs.pop("capture", False), **kwargs)


# A full disk, in both modes of work.
with open("/dev/full", "wb") as full:
    for args, data in (([], b"ISBN 0201633612\n" * 1000), (["0201633612"], b"")):
        result = subprocess.run([ORVANE, *args], input=data, stdout=full, stderr=subprocess.PIPE)
        expect(result.returncode == 1, f"/dev/full {args}: exit status {result.returncode}")
        expect(result.stderr == b"?? Write error on standard output: No space left on device\n",
               f"/dev/full {args}: {result.stderr!r}")

# A closed standard output.
for args in ([], ["0201633612"]):
    result = subprocess.run([ORVANE, *args], input=b"0201633612\n", stderr=subprocess.PIPE,
                            stdout=None, pass_fds=(), preexec_fn=lambda: os.close(1))
    expect(result.returncode == 1, f"closed stdout {args}: exit status {result.returncode}")
    expect(result.stderr == b"?? Write error on standard output: Bad file descriptor\n",
           f"closed stdout {args}: {result.stderr!r}")

# Standard input that is a directory.
directory = os.open(".", os.O_RDONLY)
result = subprocess.run([ORVANE], stdin=directory, capture_output=True)
os.close(directory)
expect(result.returncode == 1 and result.stderr == b"?? Read error on standard input: Is a directory\n",
       f"directory on stdin: {result.returncode} {result.stderr!r}")

# A reader that closes the pipe: SIGPIPE ends the run, as for any filter; with SIGPIPE ignored,
# the write error is reported. Either way the reader got the start of the output unchanged.
text = b"".join(b"line %d ISBN 0201633612 and some more text to fill the pipe\n" % i for i in range(200000))
expected = text.replace(b"0201633612", b"0-201-63361-2")
for ignore in (False, True):
    process = subprocess.Popen([ORVANE], stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               preexec_fn=(lambda: signal.signal(signal.SIGPIPE, signal.SIG_IGN)) if ignore else None)
    def feed(process=process):
        try:
            process.stdin.write(text)
            process.stdin.close()
        except BrokenPipeError:
            pass

    feeder = threading.Thread(target=feed)
    feeder.start()
    first = process.stdout.read(100000)
    process.stdout.close()
    feeder.join()
    stderr = process.stderr.read()
    status = process.wait()
    expect(first == expected[:len(first)], f"closed pipe (ignore={ignore}): the start of the output differs")
    if ignore:
        expect(status == 1 and stderr == b"?? Write error on standard output: Broken pipe\n",
               f"closed pipe, SIGPIPE ignored: {status} {stderr!r}")
    else:
        expect(status == -signal.SIGPIPE, f"closed pipe: exit status {status}")

# One line of several hundred MB without a newline: it comes out whole, and memory grows with
# the line only.
size = int(os.environ.get("ORVANE_LONG_LINE_MB", "300")) << 20
chunk = (b"a" * 1000 + b" 0201633613 ") * 1000
with tempfile.TemporaryFile() as out:
    process = subprocess.Popen([ORVANE], stdin=subprocess.PIPE, stdout=out, stderr=subprocess.DEVNULL)
    digest = hashlib.sha256()
    written = 0
    while written < size:
        piece = chunk[:size - written]
        process.stdin.write(piece)
        digest.update(piece)
        written += len(piece)
    process.stdin.close()
    status = process.wait()
    peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss * 1024
    out.seek(0)
    got = hashlib.sha256()
    for block in iter(lambda: out.read(1 << 20), b""):
        got.update(block)
expect(status == 0, f"long line: exit status {status}")
expect(got.digest() == digest.digest(), "long line: the output differs from the input")
# A sanitizer build keeps freed memory aside for a while, so the bound holds for plain builds.
if not os.environ.get("ORVANE_SANITIZED"):
    expect(peak < 2.2 * size + (16 << 20), f"long line: peak memory {peak >> 20} MiB for a {size >> 20} MiB line")
print(f"one line of {size >> 20} MiB without a newline: peak memory {peak >> 20} MiB")

print(f"{failures} failures")
sys.exit(1 if failures else 0)
