#!/usr/bin/env python3
"""How the text and the warnings reach their readers, through the built binary:

- on a terminal, standard output stays line-buffered: a warning about a line appears before
  that line's text, and after the lines before it;
- where both streams share one pipe or file (2>&1), each warning comes before the text of its
  line, however the warnings are gathered;
- a reader never waits for what has been filtered: a writer that sends one line and waits gets
  that line's text on standard output, and its warning on standard error, before it sends the
  next, in both modes, from every kind of standard input whose read may wait (a pipe, a FIFO, a
  socket, a terminal).
"""
import os
import pty
import select
import socket
import subprocess
import sys
import tempfile
import termios

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from expectations import expect, finish  # noqa: E402

ORVANE = sys.argv[1]


def read_all(descriptor):
    data = b""
    while True:
        try:
            chunk = os.read(descriptor, 4096)
        except OSError:
            break
        if not chunk:
            break
        data += chunk
    return data


# A terminal.
main, secondary = pty.openpty()
attributes = termios.tcgetattr(secondary)
attributes[1] &= ~termios.ONLCR  # no \r before \n, to compare bytes plainly
termios.tcsetattr(secondary, termios.TCSANOW, attributes)
process = subprocess.Popen([ORVANE], stdin=subprocess.PIPE, stdout=secondary, stderr=secondary)
os.close(secondary)
process.communicate(b"first 0201633612\nsecond 0201633613 end\nthird\n")
screen = read_all(main)
expect(screen == b"first 0-201-63361-2\n-:2:invalid ISBN-10 value [0201633613].\nsecond 0201633613 end\nthird\n",
       f"terminal: {screen!r}")

# One pipe, and one file, for both streams: every warning before the text of its line.
lines = [b"line %d %s\n" % (i, b"0201633613" if i % 3 == 0 else b"0201633612") for i in range(1, 3001)]
text = b"".join(lines)
with tempfile.TemporaryFile() as shared:
    subprocess.run([ORVANE], input=text, stdout=shared, stderr=shared)
    shared.seek(0)
    in_file = shared.read()
read_end, write_end = os.pipe()
process = subprocess.Popen([ORVANE], stdin=subprocess.PIPE, stdout=write_end, stderr=write_end)
os.close(write_end)
process.stdin.write(text)
process.stdin.close()
in_pipe = read_all(read_end)
process.wait()
expected = text.replace(b"0201633612", b"0-201-63361-2")
starts = [0]  # where each line's text starts in the expected output, by line number from 1
for line in expected.split(b"\n"):
    starts.append(starts[-1] + len(line) + 1)
warning = b"-:%d:invalid ISBN-10 value [0201633613].\n"
for name, combined in (("file", in_file), ("pipe", in_pipe)):
    # Take the warnings out, in order, noting where in the text each stood; a warning may stand
    # inside an earlier line's text (the text goes out in blocks), never after its own line's
    # start.
    rest, text_only, late = combined, b"", []
    for number in range(3, 3001, 3):
        found = rest.find(warning % number)
        if found < 0 or len(text_only) + found > starts[number]:
            late.append(number)
        if found >= 0:
            text_only += rest[:found]
            rest = rest[found + len(warning % number):]
    text_only += rest
    expect(not late, f"2>&1 into a {name}: warnings missing or after their line's text: {late[:5]}")
    expect(text_only == expected, f"2>&1 into a {name}: the text differs")


def wait_for(descriptor, want, what):
    """Reads from descriptor until want has come, for at most five seconds; returns whether it
    came as expected."""
    got = b""
    while not got.endswith(want):
        ready, _, _ = select.select([descriptor], [], [], 5)
        if not ready:
            expect(False, f"{what}: {want!r} did not come while the writer waited (got {got!r})")
            return False
        chunk = os.read(descriptor, 4096)
        if not chunk:
            expect(False, f"{what}: the stream ended before {want!r} (got {got!r})")
            return False
        got += chunk
    expect(got == want, f"{what}: {got!r}, expected {want!r}")
    return got == want


def standard_inputs(directory):
    """Each kind of standard input that may make a read wait, as (name, orvane's end, the writer's
    end): a pipe, a FIFO, a socket and a terminal."""
    read_end, write_end = os.pipe()
    yield "pipe", read_end, write_end
    fifo = os.path.join(directory, "fifo")
    os.mkfifo(fifo)
    reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
    writer = os.open(fifo, os.O_WRONLY)
    os.set_blocking(reader, True)
    yield "fifo", reader, writer
    ours, theirs = socket.socketpair()
    yield "socket", theirs.detach(), ours.detach()
    main, secondary = pty.openpty()
    attributes = termios.tcgetattr(secondary)
    attributes[3] &= ~termios.ECHO
    termios.tcsetattr(secondary, termios.TCSANOW, attributes)
    yield "terminal", secondary, main


with tempfile.TemporaryDirectory() as directory:
    for kind, theirs, ours in standard_inputs(directory):
        for args, lines in (([], [(b"a 0201633612\n", b"a 0-201-63361-2\n", b""),
                                  (b"b 0201633613\n", b"b 0201633613\n", b"-:2:invalid ISBN-10 value [0201633613].\n"),
                                  (b"c\n", b"c\n", b"")]),
                            (["--bibtex"], [(b"@book{k,\n", b"@book{k,\n", b""),
                                            (b" isbn = {0201633612},\n", b" isbn = {0-201-63361-2},\n", b""),
                                            (b" isbn = {0201633613}}\n", b" isbn = {0201633613}}\n",
                                             b"-:3:invalid ISBN-10 value [0201633613].\n")])):
            process = subprocess.Popen([ORVANE, *args], stdin=theirs, stdout=subprocess.PIPE,
                                       stderr=subprocess.PIPE)
            for line, out, err in lines:
                os.write(ours, line)
                # After the first line that does not come, the rest of the run would only wait too.
                if not wait_for(process.stdout.fileno(), out, f"one line at a time from a {kind} {args}, stdout"):
                    break
                if err and not wait_for(process.stderr.fileno(), err,
                                        f"one line at a time from a {kind} {args}, stderr"):
                    break
            process.kill()
            process.wait()
        os.close(theirs)
        os.close(ours)

finish()
