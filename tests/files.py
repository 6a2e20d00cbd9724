#!/usr/bin/env python3
"""--in-place and --check on real files, through the built binary: what is replaced and how,
what is left alone, and a table of failures, each of which leaves its file byte for byte as it
was, no temporary file behind, "?? NAME: REASON" on standard error, and the other files done.

    files.py ORVANE
"""
import os
import resource
import signal
import stat
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from expectations import expect, finish  # noqa: E402

ORVANE = os.path.abspath(sys.argv[1])

BIB = b"@book{a,\n  isbn = {0201633612},\n  note = {0201633612},\n  isbn = {0201633613},\n}\n"
DONE = BIB.replace(b"isbn = {0201633612}", b"isbn = {0-201-63361-2}")
OTHER = b"@book{b, isbn = {9780201896831}}\n"
OTHER_DONE = b"@book{b, isbn = {978-0-201-89683-1}}\n"


def write(path, data, mode=0o644):
    with open(path, "wb") as f:
        f.write(data)
    os.chmod(path, mode)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def run(args, cwd, **kwargs):
    return subprocess.run([ORVANE, *args], cwd=cwd, capture_output=True, **kwargs)


def leftovers(directory):
    return [name for name in os.listdir(directory) if name.startswith(".orvane")]


with tempfile.TemporaryDirectory() as d:
    # Replaced where it changes, with its mode, owner and group; a link is followed and stays a
    # link; a file that does not change keeps its inode and time; each file's warnings name it,
    # with its own line numbers.
    write(os.path.join(d, "refs.bib"), BIB, 0o640)
    os.chown(os.path.join(d, "refs.bib"), os.getuid(), os.getgid())
    write(os.path.join(d, "other.bib"), OTHER, 0o604)
    os.symlink("other.bib", os.path.join(d, "link.bib"))
    write(os.path.join(d, "same.bib"), DONE)
    same = os.stat(os.path.join(d, "same.bib"))
    time.sleep(0.01)
    result = run(["--bibtex", "--in-place", "refs.bib", "link.bib", "same.bib"], d)
    expect(result.returncode == 0 and result.stdout == b"", f"in place: {result!r}")
    expect(result.stderr == b"refs.bib:4:invalid ISBN-10 value [0201633613].\n"
           b"same.bib:4:invalid ISBN-10 value [0201633613].\n", f"in place warnings: {result.stderr!r}")
    expect(read(os.path.join(d, "refs.bib")) == DONE, "in place: refs.bib not hyphenated")
    expect(stat.S_IMODE(os.stat(os.path.join(d, "refs.bib")).st_mode) == 0o640, "in place: mode not kept")
    expect(os.path.islink(os.path.join(d, "link.bib")) and read(os.path.join(d, "other.bib")) == OTHER_DONE,
           "in place: the link's file not replaced, or the link not kept")
    expect(stat.S_IMODE(os.stat(os.path.join(d, "other.bib")).st_mode) == 0o604, "in place: the link's file's mode")
    now = os.stat(os.path.join(d, "same.bib"))
    expect((now.st_ino, now.st_mtime_ns) == (same.st_ino, same.st_mtime_ns), "in place: an unchanged file was rewritten")
    expect(not leftovers(d), f"in place: left {leftovers(d)}")

    # --check: nothing written anywhere; what would change, in input order beside the warnings;
    # status 1 for a change or a warning, 0 for a clean file, which --in-place makes.
    write(os.path.join(d, "refs.bib"), BIB)
    write(os.path.join(d, "clean.bib"), OTHER_DONE)
    before = os.stat(os.path.join(d, "refs.bib"))
    result = run(["--check", "--bibtex", "refs.bib", "clean.bib"], d)
    expect(result.returncode == 1 and result.stdout == b"" and result.stderr ==
           b"refs.bib:2:0201633612 would be written as 0-201-63361-2.\n"
           b"refs.bib:4:invalid ISBN-10 value [0201633613].\n", f"check: {result!r}")
    expect(os.stat(os.path.join(d, "refs.bib")).st_mtime_ns == before.st_mtime_ns, "check touched the file")
    result = run(["--bibtex", "--check", "clean.bib"], d)
    expect((result.returncode, result.stdout, result.stderr) == (0, b"", b""), f"check clean: {result!r}")
    write(os.path.join(d, "nowarn.bib"), OTHER)
    run(["--bibtex", "--in-place", "nowarn.bib"], d)
    result = run(["--bibtex", "--check", "nowarn.bib"], d)
    expect((result.returncode, result.stderr) == (0, b""), f"check after in place: {result!r}")
    result = run(["--check"], d, input=b"a 9780201896831\n-\n")
    expect((result.returncode, result.stdout, result.stderr) ==
           (1, b"", b"-:1:9780201896831 would be written as 978-0-201-89683-1.\n"), f"check stdin: {result!r}")
    result = run(["--check", "missing.bib", "clean.bib"], d)
    expect((result.returncode, result.stderr) == (1, b"?? missing.bib: No such file or directory\n"),
           f"check missing: {result!r}")

    # Failures: each leaves its file as it was and no temporary file, says why, and the file
    # after it is still done.
    os.mkfifo(os.path.join(d, "fifo.bib"))
    os.mkdir(os.path.join(d, "dir.bib"))
    os.mkdir(os.path.join(d, "closed"))
    write(os.path.join(d, "closed", "refs.bib"), BIB)
    os.mkdir(os.path.join(d, "open"))
    os.chmod(os.path.join(d, "open"), 0o777)
    after = os.path.join(d, "open", "after.bib")
    big = OTHER * 2000
    cases = [
        # name, file, its content, a preparation of the run, the reason
        ("missing", "missing.bib", None, {}, b"No such file or directory"),
        ("a directory", "dir.bib", None, {}, b"not a regular file"),
        ("a fifo", "fifo.bib", None, {}, b"not a regular file"),
        ("a full disk", "big.bib", big,
         {"preexec_fn": lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))},
         b"cannot write the new content: File too large"),
    ]
    if os.getuid() == 0:
        # Root writes into any directory: the run drops to an ordinary user for this one.
        os.chmod(os.path.join(d, "closed"), 0o755)
        os.chmod(d, 0o755)
        cases.append(("a directory not writable", "closed/refs.bib", BIB,
                      {"preexec_fn": lambda: (os.setgid(65534), os.setuid(65534))},
                      b"cannot make a file in " + os.path.join(os.path.realpath(d), "closed").encode()
                      + b": Permission denied"))
    else:
        os.chmod(os.path.join(d, "closed"), 0o555)
        cases.append(("a directory not writable", "closed/refs.bib", BIB, {},
                      b"cannot make a file in " + os.path.join(os.path.realpath(d), "closed").encode()
                      + b": Permission denied"))
    for name, path, content, preparation, reason in cases:
        if content is not None:
            write(os.path.join(d, path), content)
        write(after, OTHER, 0o666)
        result = run(["--bibtex", "--in-place", path, "open/after.bib"], d, **preparation)
        expect(result.returncode == 1 and result.stderr == b"?? " + path.encode() + b": " + reason + b"\n",
               f"{name}: {result.returncode} {result.stderr[-300:]!r}")
        if content is not None:
            expect(read(os.path.join(d, path)) == content, f"{name}: the file changed")
        expect(read(after) == OTHER_DONE, f"{name}: the next file was not done")
        expect(not leftovers(d) and not leftovers(os.path.join(d, "closed")), f"{name}: left a temporary file")

    # A signal fails the file being filtered like any other fault: it stays as it was, no
    # temporary file is left, the files after it are still done, and the exit status is 1.
    huge = os.path.join(d, "huge.bib")
    write(huge, BIB * 400000)
    original = read(huge)
    for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        write(os.path.join(d, "after.bib"), OTHER)
        process = subprocess.Popen([ORVANE, "--bibtex", "--in-place", "huge.bib", "after.bib"], cwd=d,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        for _ in range(2000):
            if leftovers(d):
                break
            time.sleep(0.001)
        process.send_signal(number)
        out, err = process.communicate()
        expect(process.returncode == 1, f"signal {number}: status {process.returncode}")
        expect(err.endswith(b"?? huge.bib: " + signal.strsignal(number).encode() + b", left as it was\n"),
               f"signal {number}: {err[-100:]!r}")
        expect(read(huge) == original and not leftovers(d),
               f"signal {number}: the file changed or a temporary file was left")
        expect(read(os.path.join(d, "after.bib")) == OTHER_DONE, f"signal {number}: the next file was not done")

finish()
