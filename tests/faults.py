#!/usr/bin/env python3
"""Faults around the built binary: every one ends with a truthful exit status, and what was
written before the fault stays written.

    faults.py ORVANE [--peak-only]
"""
import hashlib
import os
import pty
import resource
import select
import signal
import subprocess
import sys
import tempfile
import termios
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from expectations import expect, finish  # noqa: E402

ORVANE = sys.argv[1]


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

# A closed standard input is still a read error, in both modes (orvane takes the descriptor on
# /dev/null, opened so that reading it fails as reading a closed one does).
for args in ([], ["--bibtex"]):
    result = subprocess.run([ORVANE, *args], stdin=subprocess.DEVNULL, capture_output=True, preexec_fn=lambda: os.close(0))
    expect(result.returncode == 1 and result.stderr == b"?? Read error on standard input: Bad file descriptor\n",
           f"closed stdin {args}: {result.returncode} {result.stderr!r}")

# Standard input that is a directory.
directory = os.open(".", os.O_RDONLY)
result = subprocess.run([ORVANE], stdin=directory, capture_output=True)
os.close(directory)
expect(result.returncode == 1 and result.stderr == b"?? Read error on standard input: Is a directory\n",
       f"directory on stdin: {result.returncode} {result.stderr!r}")

# A read error after whole lines, each read on its own: a terminal that hangs up. Every line read
# before the error is written, its warning given, and then the error reported.
main, secondary = pty.openpty()
attributes = termios.tcgetattr(secondary)
attributes[3] &= ~termios.ECHO
termios.tcsetattr(secondary, termios.TCSANOW, attributes)
lines = [b"@book{a, isbn = {0201633612}}\n", b"@book{b, isbn = {0201633613}}\n"]
for args in ([], ["--bibtex"]):
    process = subprocess.Popen([ORVANE, *args], stdin=secondary, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    out = b""
    for line in lines:
        os.write(main, line)
        # The line's text comes back before orvane reads again.
        want = len(out) + len(line) + line.count(b"0201633612") * 3
        while len(out) < want and select.select([process.stdout], [], [], 10)[0]:
            out += os.read(process.stdout.fileno(), 4096)
        expect(len(out) >= want, f"terminal hang-up {args}: the text of {line!r} did not come back before the next read")
    # The hang-up is a read error only for a read under way (a later read finds the end of the
    # input): wait until orvane waits in read(), system call 0 here.
    waiting = False
    for _ in range(1000):
        with open(f"/proc/{process.pid}/syscall") as f:
            waiting = f.read().split()[0] == "0"
        if waiting:
            break
        time.sleep(0.01)
    expect(waiting, f"terminal hang-up {args}: orvane never waited in read()")
    os.close(main)
    rest, err = process.communicate()
    expect(process.returncode == 1 and out + rest == b"".join(lines).replace(b"0201633612", b"0-201-63361-2")
           and err == b"-:2:invalid ISBN-10 value [0201633613].\n"
           b"?? Read error on standard input: Input/output error\n",
           f"terminal hang-up {args}: {process.returncode} {out + rest!r} {err!r}")
    main, secondary = pty.openpty()
    termios.tcsetattr(secondary, termios.TCSANOW, attributes)
os.close(main)
os.close(secondary)

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

# Descriptors that another process made non-blocking: orvane waits for them and goes on.
# Every eighth line is long, so that the output goes out in pieces of copied and uncopied text
# and a write that the pipe cuts short ends inside any of them.
text = b"".join(b"%d ISBN 0201633612 in a line long enough to fill a pipe soon%s\n"
                % (i, b" and longer" * (80 if i % 8 == 0 else 0)) for i in range(100000))
expected = text.replace(b"0201633612", b"0-201-63361-2")
for side in ("stdin", "stdout"):
    read_end, write_end = os.pipe()
    # Only orvane's end is non-blocking; this side blocks as usual.
    os.set_blocking(write_end if side == "stdout" else read_end, False)
    if side == "stdin":
        process = subprocess.Popen([ORVANE], stdin=read_end, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        os.close(read_end)

        def write_slowly():
            for i in range(0, len(text), 4096):
                os.write(write_end, text[i:i + 4096])
                if i % 65536 == 0:
                    time.sleep(0.0001)
            os.close(write_end)

        writer = threading.Thread(target=write_slowly)
        writer.start()
        out, err = process.communicate()
        writer.join()
    else:
        process = subprocess.Popen([ORVANE], stdin=subprocess.PIPE, stdout=write_end, stderr=subprocess.PIPE)
        os.close(write_end)
        feeder = threading.Thread(target=lambda: (process.stdin.write(text), process.stdin.close()))
        feeder.start()
        chunks = []
        while True:
            if len(chunks) % 64 == 0:
                time.sleep(0.001)
            chunk = os.read(read_end, 65536)
            if not chunk:
                break
            chunks.append(chunk)
        os.close(read_end)
        feeder.join()
        out, err = b"".join(chunks), process.stderr.read()
        process.wait()
    expect(process.returncode == 0 and err == b"" and out == expected,
           f"non-blocking {side}: status {process.returncode}, {err!r}, {len(out)} bytes out")

# Input that is output: refused before anything is written when the output would be read
# again (appended, or opened without truncation: orvane < f 1<> f), and when the shell emptied
# the file for the output (orvane < f > f), whose content was lost before orvane started. An
# output that starts where the input has been read to its end is no such case.
with tempfile.TemporaryDirectory() as directory:
    path = os.path.join(directory, "refs.bib")
    original = b"isbn = {0201633612}\n"
    for args in ([], ["--bibtex"]):
        for way in ("ab", "r+b", "wb"):
            with open(path, "wb") as f:
                f.write(original)
            with open(path, "rb") as stdin, open(path, way) as stdout:
                result = subprocess.run([ORVANE, *args], stdin=stdin, stdout=stdout, stderr=subprocess.PIPE)
            with open(path, "rb") as f:
                after = f.read()
            expect(result.returncode == 1 and result.stderr == b"?? Input file is output file\n"
                   and after == (b"" if way == "wb" else original),
                   f"input is output {args} {way}: {result!r} {after!r}")
        with open(path, "wb") as f:
            f.write(original)
        with open(path, "rb") as stdin, open(path, "r+b") as stdout:
            stdin.read()
            stdout.seek(len(original))
            result = subprocess.run([ORVANE, *args], stdin=stdin, stdout=stdout, stderr=subprocess.PIPE)
        expect(result.returncode == 0 and result.stderr == b"", f"output after the input {args}: {result!r}")

# A line longer than a block comes out whole, and orvane starts where the descriptor stands and
# leaves it at the end, so that the next program reads on from there.
with tempfile.TemporaryDirectory() as directory:
    path = os.path.join(directory, "input.txt")
    long_line = b"x" * 700000 + b" 0201633612\n"
    with open(path, "wb") as f:
        f.write(b"skip\n" + long_line + b"last 0201633612")
    result = subprocess.run(["sh", "-c", f"dd bs=5 count=1 of=/dev/null 2>/dev/null; {ORVANE}; cat"],
                            stdin=open(path, "rb"), capture_output=True)
    expect(result.stdout == long_line.replace(b"0201633612", b"0-201-63361-2") + b"last 0-201-63361-2"
           and result.stderr == b"", f"file from an offset: {result.stdout[-40:]!r} {result.stderr!r}")

# One line of several hundred MB without a newline: it comes out whole, and memory grows with
# the line only.
size = int(os.environ.get("ORVANE_LONG_LINE_MB", "300")) << 20
chunk = (b"a" * 1000 + b" 0201633613 ") * 1000
# GNU time measures orvane alone: a child forked from this Python process would count Python's
# memory too, in the peak of the process before it runs orvane.
peak_file = tempfile.NamedTemporaryFile()
measured = ["/usr/bin/time", "-f", "%M", "-o", peak_file.name] if os.path.exists("/usr/bin/time") else []
with tempfile.TemporaryFile() as out:
    process = subprocess.Popen([*measured, ORVANE], stdin=subprocess.PIPE, stdout=out, stderr=subprocess.DEVNULL)
    digest = hashlib.sha256()
    written = 0
    while written < size:
        piece = chunk[:size - written]
        process.stdin.write(piece)
        digest.update(piece)
        written += len(piece)
    process.stdin.close()
    # This child's own peak, not the largest of every child so far.
    _, wait_status, usage = os.wait4(process.pid, 0)
    status = os.waitstatus_to_exitcode(wait_status)
    process.returncode = status
    peak = usage.ru_maxrss * 1024
    if measured:
        peak = int(open(peak_file.name).read().split()[-1]) * 1024
    out.seek(0)
    got = hashlib.sha256()
    for block in iter(lambda: out.read(1 << 20), b""):
        got.update(block)
expect(status == 0, f"long line: exit status {status}")
expect(got.digest() == digest.digest(), "long line: the output differs from the input")
# A sanitizer build keeps freed memory aside for a while, so the bound holds for plain builds.
if not os.environ.get("ORVANE_SANITIZED"):
    expect(peak < 1.1 * size + (8 << 20), f"long line: peak memory {peak >> 20} MiB for a {size >> 20} MiB line")
print(f"one line of {size >> 20} MiB without a newline: peak memory {peak >> 20} MiB")

finish()
