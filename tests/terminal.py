#!/usr/bin/env python3
"""On a terminal, standard output stays line-buffered: a warning about a line appears before
that line's text, and after the lines before it, exactly as when every byte goes straight to the
standard stream."""
import os
import pty
import subprocess
import sys
import termios

ORVANE = sys.argv[1]
main, secondary = pty.openpty()
attributes = termios.tcgetattr(secondary)
attributes[1] &= ~termios.ONLCR  # no \r before \n, to compare bytes plainly
termios.tcsetattr(secondary, termios.TCSANOW, attributes)
process = subprocess.Popen([ORVANE], stdin=subprocess.PIPE, stdout=secondary, stderr=secondary)
os.close(secondary)
process.communicate(b"first 0201633612\nsecond 0201633613 end\nthird\n")
screen = b""
while True:
    try:
        chunk = os.read(main, 4096)
    except OSError:
        break
    if not chunk:
        break
    screen += chunk
expected = (b"first 0-201-63361-2\n"
            b"-:2:invalid ISBN-10 value [0201633613].\n"
            b"second 0201633613 end\nthird\n")
if screen != expected:
    sys.exit(f"the terminal showed {screen!r}, expected {expected!r}")
