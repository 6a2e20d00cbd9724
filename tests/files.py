#!/usr/bin/env python3
"""--in-place and --check on real files, through the built binary, as one table of cases. Each
row makes its files in a fresh directory, runs orvane (as another user, with descriptors closed,
under a limit, in a deep or closed directory, or with something done to it while it runs), and
then checks every file it names: its content byte for byte (the original, or the new content
where the run completed), its mode, owner, group, ACL and other extended attributes, that no
temporary file is left anywhere in the directory, the messages and the exit status (a negative
status: ended by that signal). Rows that need root (other users, ACLs, mounts) are skipped with
a printed reason where the run is not root.

    files.py ORVANE [WORD ...]     with words, only the rows whose names hold one
"""
import os
import resource
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from expectations import expect, finish  # noqa: E402

ROOT = os.getuid() == 0
SANITIZED = bool(os.environ.get("ORVANE_SANITIZED"))
# Rows that run as other users need a binary they may run, wherever the build lies: a copy in a
# directory that all may enter.
BINARIES = tempfile.mkdtemp()
os.chmod(BINARIES, 0o755)
ORVANE = shutil.copy(os.path.abspath(sys.argv[1]), os.path.join(BINARIES, "orvane"))
NOBODY = 65534

BIB = b"@book{a,\n  isbn = {0201633612},\n  note = {0201633612},\n  isbn = {0201633613},\n}\n"
DONE = BIB.replace(b"isbn = {0201633612}", b"isbn = {0-201-63361-2}")
WARNING = b"%s:4:invalid ISBN-10 value [0201633613].\n"
OTHER = b"@book{b, isbn = {9780201896831}}\n"
OTHER_DONE = b"@book{b, isbn = {978-0-201-89683-1}}\n"
# About 50 MB without a warning: long enough to be caught in the middle.
HUGE = (OTHER + b"  note = {A longer line of text between entries, as real files have them.}\n") * 500000
ACL = "system.posix_acl_access"


def write(path, data, mode=0o644):
    with open(path, "wb") as f:
        f.write(data)
    os.chmod(path, mode)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def leftovers(directory):
    found = []
    for folder, _, names in os.walk(directory):
        found += [os.path.join(folder, n) for n in names if n.startswith(".orvane")]
    return found


def attributes(path):
    """What in place must keep of a file besides its content."""
    s = os.stat(path)
    xattrs = {}
    for name in os.listxattr(path):
        xattrs[name] = os.getxattr(path, name)
    return (stat.S_IMODE(s.st_mode), s.st_uid, s.st_gid, xattrs)


def as_user(uid, gid, then=None, groups=()):
    def preexec():
        os.setgroups(list(groups))
        os.setgid(gid)
        os.setuid(uid)
        if then:
            then()
    return preexec


def family(pid):
    """The process and its descendants: orvane under strace or unshare is one of them."""
    found = [pid]
    try:
        for task in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{task}/children") as f:
                for child in f.read().split():
                    found += family(int(child))
    except OSError:
        pass
    return found


def orvane_of(process):
    """The process id of orvane itself, the process or the one it became under a wrapper."""
    for _ in range(5000):
        for pid in family(process.pid):
            try:
                if os.path.samefile(f"/proc/{pid}/exe", ORVANE):
                    return pid
            except OSError:
                pass
        time.sleep(0.0005)
    expect(False, "orvane never started")
    return process.pid


def when_started(path):
    """Waits until orvane has the file open for reading; a wait that ends otherwise fails the row,
    since what is done next would then come at no known moment."""
    def wait(process):
        target = os.stat(path).st_ino
        for _ in range(5000):
            for pid in family(process.pid):
                try:
                    for fd in os.listdir(f"/proc/{pid}/fd"):
                        try:
                            if os.stat(f"/proc/{pid}/fd/{fd}").st_ino == target:
                                return True
                        except OSError:
                            pass
                except OSError:
                    pass
            if process.poll() is not None:
                return False
            time.sleep(0.0005)
        return False

    def checked(process):
        opened = wait(process)
        expect(opened, f"orvane never had {path} open for reading")
        return opened
    return checked


def named_temporary_seen(d):
    """Waits until the named temporary file of a run without /proc exists; a wait that ends
    otherwise fails the row."""
    for _ in range(10000):
        if leftovers(d):
            return
        time.sleep(0.0005)
    expect(False, "no /proc: the named temporary file was never seen")


def slowed(call, seconds, then=None):
    """strace's arguments that hold each entry to a system call for the given time (only the
    first, with then="first"): a moment inside in-place editing made long enough to act in."""
    when = ":when=1" if then == "first" else ""
    return ["-e", f"trace={call}", "-e", f"inject={call}:delay_enter={int(seconds * 1e6)}{when}"]


def refused(call, error):
    """strace's arguments that fail the first call of a kind with the error."""
    return ["-e", f"trace={call}", "-e", f"inject={call}:error={error}:when=1"]


def kill_after(number, delay):
    def during(process, d):
        when_started(os.path.join(d, "huge.bib"))(process)
        time.sleep(delay)
        process.send_signal(number)
    return during


# A row: name, a function that makes the files in the directory and returns the run, and what to
# expect. The run is a dict: args, and optionally cwd (a path or a descriptor), preexec, during (a
# function of the process and the directory), stderr_to (a file name). The expectation: status,
# stderr (bytes, or a function of bytes), and files: {path: (content, attributes or None for
# "as before", or "absent")}.
ROWS = []


def row(name, needs_root=False, tools=()):
    """Adds a row; one that needs root or a tool (a program on the PATH) is skipped, with the
    reason printed, where the run lacks it."""
    def add(make):
        ROWS.append((name, needs_root, tools, make))
        return make
    return add


@row("replaced where it changes, link followed, unchanged untouched, warnings name their file")
def _(d):
    write(f"{d}/refs.bib", BIB, 0o640)
    write(f"{d}/other.bib", OTHER, 0o604)
    os.symlink("other.bib", f"{d}/link.bib")
    write(f"{d}/same.bib", DONE)
    if ROOT:
        os.chown(f"{d}/refs.bib", 1234, 5678)
    return {"args": ["--bibtex", "--in-place", "refs.bib", "link.bib", "same.bib"]}, {
        "status": 0, "stderr": WARNING % b"refs.bib" + WARNING % b"same.bib",
        "files": {"refs.bib": DONE, "other.bib": OTHER_DONE, "same.bib": DONE}}


@row("owner, group and set-ID bits kept where root may keep them", needs_root=True)
def _(d):
    write(f"{d}/suid.bib", OTHER, 0o6755)
    os.chown(f"{d}/suid.bib", 1001, 1002)
    os.chmod(f"{d}/suid.bib", 0o6755)  # after the chown, which clears the set-ID bits
    return {"args": ["--bibtex", "--in-place", "suid.bib"]}, {
        "status": 0, "stderr": b"", "files": {"suid.bib": OTHER_DONE}}


@row("set-ID bits dropped where the owner cannot be kept", needs_root=True)
def _(d):
    os.chmod(d, 0o777)
    write(f"{d}/suid.bib", OTHER, 0o6755)
    os.chown(f"{d}/suid.bib", 1001, 1002)
    os.chmod(f"{d}/suid.bib", 0o6755)  # after the chown, which clears the set-ID bits

    def check(path):
        mode, uid, gid, _ = attributes(path)
        return mode == 0o755 and (uid, gid) == (1003, 1003)
    assert attributes(f"{d}/suid.bib")[0] == 0o6755
    return {"args": ["--bibtex", "--in-place", "suid.bib"], "preexec": as_user(1003, 1003)}, {
        "status": 0, "stderr": b"", "files": {"suid.bib": (OTHER_DONE, check)}}


@row("set-ID bits dropped where the group is kept but not the owner: a member of the file's group", needs_root=True)
def _(d):
    os.chmod(d, 0o777)
    write(f"{d}/suid.bib", OTHER, 0o6775)
    os.chown(f"{d}/suid.bib", 1001, 1002)
    os.chmod(f"{d}/suid.bib", 0o6775)

    def check(path):
        mode, uid, gid, _ = attributes(path)
        return mode == 0o775 and (uid, gid) == (1003, 1002)
    return {"args": ["--bibtex", "--in-place", "suid.bib"], "preexec": as_user(1003, 1003, groups=(1002,))}, {
        "status": 0, "stderr": b"", "files": {"suid.bib": (OTHER_DONE, check)}}


@row("an ACL kept where a user it names, not the owner, edits the file", needs_root=True, tools=("setfacl",))
def _(d):
    os.chmod(d, 0o777)
    write(f"{d}/acl.bib", OTHER, 0o640)
    os.chown(f"{d}/acl.bib", 1001, 1002)
    subprocess.run(["setfacl", "-m", "u:1003:rw", f"{d}/acl.bib"], check=True)
    acl = os.getxattr(f"{d}/acl.bib", ACL)

    def check(path):
        mode, uid, gid, xattrs = attributes(path)
        return (mode, uid, xattrs.get(ACL)) == (0o660, 1003, acl)
    return {"args": ["--bibtex", "--in-place", "acl.bib"], "preexec": as_user(1003, 1003)}, {
        "status": 0, "stderr": b"", "files": {"acl.bib": (OTHER_DONE, check)}}


@row("an ACL and other extended attributes kept", needs_root=True, tools=("setfacl",))
def _(d):
    write(f"{d}/acl.bib", OTHER, 0o640)
    subprocess.run(["setfacl", "-m", "u:12345:rw", f"{d}/acl.bib"], check=True)
    os.setxattr(f"{d}/acl.bib", "user.origin", b"catalogue")
    return {"args": ["--bibtex", "--in-place", "acl.bib"]}, {
        "status": 0, "stderr": b"", "files": {"acl.bib": OTHER_DONE}}


@row("no ACL inherited from the directory where the file had none", needs_root=True, tools=("setfacl",))
def _(d):
    os.mkdir(f"{d}/shared")
    subprocess.run(["setfacl", "-d", "-m", "u:12345:rwx", f"{d}/shared"], check=True)
    write(f"{d}/plain.bib", OTHER, 0o600)
    os.rename(f"{d}/plain.bib", f"{d}/shared/plain.bib")
    return {"args": ["--bibtex", "--in-place", "shared/plain.bib"]}, {
        "status": 0, "stderr": b"", "files": {"shared/plain.bib": OTHER_DONE}}


@row("closed standard error: no warning lands in the file")
def _(d):
    write(f"{d}/refs.bib", BIB)
    return {"args": ["--bibtex", "--in-place", "refs.bib"], "close": (0, 2)}, {
        "status": 0, "stderr": None, "files": {"refs.bib": DONE}}


@row("all three standard descriptors closed: no warning lands in the file")
def _(d):
    write(f"{d}/refs.bib", BIB)
    return {"args": ["--bibtex", "--in-place", "refs.bib"], "close": (0, 1, 2)}, {
        "status": 0, "stderr": None, "files": {"refs.bib": DONE}}


@row("a change after more than a block of text that does not change")
def _(d):
    start = b"@misc{m, note = {unchanged text}}\n" * 40000
    write(f"{d}/late.bib", start + OTHER)
    return {"args": ["--bibtex", "--in-place", "late.bib"]}, {
        "status": 0, "stderr": b"", "files": {"late.bib": start + OTHER_DONE}}


@row("closed standard output and error")
def _(d):
    write(f"{d}/refs.bib", BIB)
    return {"args": ["--bibtex", "--in-place", "refs.bib"], "close": (1, 2)}, {
        "status": 0, "stderr": None, "files": {"refs.bib": DONE}}


# --check on files: 1 for a change, a warning or both, in any file; 0 for neither; nothing written.
for name, texts, status, messages in (
        ("neither", [OTHER_DONE, OTHER_DONE], 0, b""),
        ("a change in the second file", [OTHER_DONE, OTHER], 1,
         b"f1.bib:1:9780201896831 would be written as 978-0-201-89683-1.\n"),
        ("a warning alone", [b"@book{k, isbn = {0201633613}}\n", OTHER_DONE], 1,
         b"f0.bib:1:invalid ISBN-10 value [0201633613].\n"),
        ("a change and a warning", [BIB, OTHER_DONE], 1,
         b"f0.bib:2:0201633612 would be written as 0-201-63361-2.\n" + WARNING % b"f0.bib")):
    @row(f"--check, {name}")
    def _(d, texts=texts, status=status, messages=messages):
        for i, text in enumerate(texts):
            write(f"{d}/f{i}.bib", text)
        return {"args": ["--bibtex", "--check", "f0.bib", "f1.bib"]}, {
            "status": status, "stderr": messages, "files": {f"f{i}.bib": text for i, text in enumerate(texts)}}


@row("a second signal while the first is handled")
def _(d):
    write(f"{d}/huge.bib", HUGE)
    write(f"{d}/after.bib", OTHER)

    def during(process, d):
        when_started(f"{d}/huge.bib")(process)
        time.sleep(0.01)
        process.send_signal(signal.SIGTERM)
        process.send_signal(signal.SIGINT)
    return {"args": ["--bibtex", "--in-place", "huge.bib", "after.bib"], "during": during}, {
        # Two signals pending at once are taken lowest number first: either ends the run, once.
        "status": (-signal.SIGTERM, -signal.SIGINT),
        "stderr": lambda err: err in (b"?? huge.bib: Terminated, left as it was\n", b"?? huge.bib: Interrupt, left as it was\n"),
        "files": {"huge.bib": HUGE, "after.bib": OTHER}}


@row("closed standard input and output with --check")
def _(d):
    write(f"{d}/refs.bib", BIB)
    return {"args": ["--bibtex", "--check", "refs.bib"], "close": (0, 1)}, {
        "status": 1, "stderr": b"refs.bib:2:0201633612 would be written as 0-201-63361-2.\n" + WARNING % b"refs.bib",
        "files": {"refs.bib": BIB}}


@row("-- ends the leading options: a file that looks like an option is a file")
def _(d):
    write(f"{d}/--ranges=x.bib", OTHER)
    write(f"{d}/chg.bib", OTHER)
    return {"args": ["--bibtex", "--in-place", "--", "--ranges=x.bib", "chg.bib"]}, {
        "status": 0, "stderr": b"", "files": {"--ranges=x.bib": OTHER_DONE, "chg.bib": OTHER_DONE}}


@row("--isbn13 in place: each conversion is a change")
def _(d):
    write(f"{d}/ten.bib", b"@book{k, isbn = {0-201-63361-2}}\n")
    write(f"{d}/thirteen.bib", b"@book{k, isbn = {978-0-201-63361-0}}\n")
    return {"args": ["--bibtex", "--isbn13", "--in-place", "ten.bib", "thirteen.bib"]}, {
        "status": 0, "stderr": b"", "files": {"ten.bib": b"@book{k, isbn = {978-0-201-63361-0}}\n",
                                             "thirteen.bib": b"@book{k, isbn = {978-0-201-63361-0}}\n"}}


@row("standard input cannot be replaced")
def _(d):
    write(f"{d}/chg.bib", OTHER)
    return {"args": ["--in-place", "chg.bib", "-"]}, {
        "status": 2, "stderr": b"?? --in-place cannot replace standard input (-)\n", "files": {"chg.bib": OTHER}}


@row("a file that does not change, in a directory that cannot be written")
def _(d):
    os.mkdir(f"{d}/closed")
    write(f"{d}/closed/clean.bib", OTHER_DONE)
    os.chmod(f"{d}/closed", 0o555)
    return {"args": ["--bibtex", "--in-place", "closed/clean.bib"],
            "preexec": as_user(NOBODY, NOBODY) if ROOT else None}, {
        "status": 0, "stderr": b"", "files": {"closed/clean.bib": OTHER_DONE}}


@row("a file that does not change, under a file-size limit")
def _(d):
    write(f"{d}/clean.bib", OTHER_DONE * 1000)
    return {"args": ["--bibtex", "--in-place", "clean.bib"],
            "preexec": lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (0, 0))}, {
        "status": 0, "stderr": b"", "files": {"clean.bib": OTHER_DONE * 1000}}


@row("a working directory deeper than PATH_MAX")
def _(d):
    # Made one level at a time through descriptors: the path as a whole is too long to name.
    fd = os.open(d, os.O_RDONLY)
    for _ in range(24):
        os.mkdir("d" * 200, dir_fd=fd)
        inner = os.open("d" * 200, os.O_RDONLY, dir_fd=fd)
        os.close(fd)
        fd = inner
    with open(os.open("refs.bib", os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd), "wb") as f:
        f.write(BIB)
    return {"args": ["--bibtex", "--in-place", "refs.bib"], "cwd": fd}, {
        "status": 0, "stderr": WARNING % b"refs.bib", "files": {}, "deep": (fd, DONE)}


@row("below a directory that cannot be searched", needs_root=True)
def _(d):
    os.makedirs(f"{d}/locked/open")
    os.chmod(f"{d}/locked/open", 0o777)
    write(f"{d}/locked/open/refs.bib", BIB, 0o666)
    fd = os.open(f"{d}/locked/open", os.O_RDONLY)
    os.chmod(f"{d}/locked", 0o700)
    return {"args": ["--bibtex", "--in-place", "refs.bib"], "cwd": fd, "preexec": as_user(NOBODY, NOBODY)}, {
        "status": 0, "stderr": WARNING % b"refs.bib", "files": {"locked/open/refs.bib": (DONE, lambda p: True)}}


# Failures: each leaves its file as it was and no temporary file, says why, and the file after it
# is still done.
def failure(name, path, content, reason, run=None, needs_root=False, prepare=None):
    @row(name, needs_root)
    def _(d):
        os.mkdir(f"{d}/open")
        os.chmod(f"{d}/open", 0o777)
        write(f"{d}/open/after.bib", OTHER, 0o666)
        if prepare:
            prepare(d)
        if content is not None:
            write(f"{d}/{path}", content, 0o644)
        files = {"open/after.bib": (OTHER_DONE, lambda p: True)}
        if content is not None:
            files[path] = content
        return dict({"args": ["--bibtex", "--in-place", path, "open/after.bib"]}, **(run or {})), {
            "status": 1, "stderr": b"?? " + path.encode() + b": " + reason + b"\n", "files": files}


failure("missing", "missing.bib", None, b"No such file or directory")
failure("a directory", "dir.bib", None, b"not a regular file", prepare=lambda d: os.mkdir(f"{d}/dir.bib"))
failure("a fifo", "fifo.bib", None, b"not a regular file", prepare=lambda d: os.mkfifo(f"{d}/fifo.bib"))
failure("a file-size limit", "big.bib", OTHER * 2000, b"cannot write the new content: File too large",
        {"preexec": lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))})
failure("a directory not writable", "closed/refs.bib", BIB, b"cannot make a file in closed: Permission denied",
        {"preexec": as_user(NOBODY, NOBODY) if ROOT else None},
        prepare=lambda d: (os.mkdir(f"{d}/closed"), os.chmod(f"{d}/closed", 0o555)))


# Control bytes in every part of a path are escaped, not only in the name given: here the
# directory that a link leads to, which the message about making the new file there names.
@row("control bytes in a linked directory's name are escaped in the message about it")
def _(d):
    os.mkdir(f"{d}/clo\tsed\033")
    write(f"{d}/clo\tsed\033/re\nal.bib", BIB)
    os.symlink("clo\tsed\033/re\nal.bib", f"{d}/refs.bib")
    os.chmod(f"{d}/clo\tsed\033", 0o555)
    return {"args": ["--bibtex", "--in-place", "refs.bib"], "preexec": as_user(NOBODY, NOBODY) if ROOT else None}, {
        "status": 1, "stderr": b"?? refs.bib: cannot make a file in ./clo\\tsed\\033: Permission denied\n",
        "files": {"clo\tsed\033/re\nal.bib": BIB}}


def full_disk(d):
    subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", f"{d}/small"], check=True)


failure("a full disk", "small/big.bib", OTHER * 1500, b"cannot write the new content: No space left on device",
        needs_root=True, prepare=lambda d: (os.mkdir(f"{d}/small"), full_disk(d)))


# Signals end the run: the file being filtered is left as it was with no temporary file, the one
# after it is not touched, the run says so and ends by the signal. Each is sent at a few moments.
for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT, signal.SIGPIPE, signal.SIGALRM,
               signal.SIGUSR1, signal.SIGUSR2, signal.SIGXCPU):
    for delay in (0.0, 0.01, 0.04) if number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP) else (0.02,):
        @row(f"{signal.Signals(number).name} after {delay} s")
        def _(d, number=number, delay=delay):
            write(f"{d}/huge.bib", HUGE)
            write(f"{d}/after.bib", OTHER)
            text = signal.strsignal(number).encode()
            return {"args": ["--bibtex", "--in-place", "huge.bib", "after.bib"],
                    "during": kill_after(number, delay)}, {
                "status": -number, "stderr": lambda err, t=text: err.endswith(b"?? huge.bib: " + t + b", left as it was\n"),
                "files": {"huge.bib": HUGE, "after.bib": OTHER}}


@row("a signal while standard error is a full pipe nobody reads")
def _(d):
    write(f"{d}/warned.bib", (b"@book{k, isbn = {0201633613}}\n" + b"x" * 200 + b"\n") * 200000)
    return {"args": ["--bibtex", "--in-place", "warned.bib"], "stderr_unread": True,
            "during": lambda p, d: (time.sleep(0.5), p.send_signal(signal.SIGTERM))}, {
        "status": -signal.SIGTERM, "stderr": None,
        "files": {"warned.bib": (b"@book{k, isbn = {0201633613}}\n" + b"x" * 200 + b"\n") * 200000}}


@row("a named temporary file, where there is no /proc, removed on a signal", needs_root=True)
def _(d):
    write(f"{d}/huge.bib", HUGE)

    def during(process, d):
        named_temporary_seen(d)
        process.send_signal(signal.SIGTERM)
    return {"args": ["--bibtex", "--in-place", "huge.bib"], "no_proc": True, "during": during}, {
        "status": -signal.SIGTERM, "stderr": lambda err: err.endswith(b", left as it was\n"),
        "files": {"huge.bib": HUGE}}


@row("a file replaced while it is read: the editor's save is kept")
def _(d):
    write(f"{d}/huge.bib", HUGE)
    saved = b"@misc{n, note={EDITOR SAVED THIS}}\n"

    def during(process, d):
        when_started(f"{d}/huge.bib")(process)
        write(f"{d}/t", saved)
        os.rename(f"{d}/t", f"{d}/huge.bib")
    return {"args": ["--bibtex", "--in-place", "huge.bib"], "during": during}, {
        "status": 1, "stderr": b"?? huge.bib: replaced while it was read, left as it was\n",
        "files": {"huge.bib": (saved, lambda p: True)}}


@row("an edit of the same size while the file is read")
def _(d):
    write(f"{d}/huge.bib", HUGE)
    edited = bytearray(HUGE)
    edited[-6:-1] = b"EDIT!"

    def during(process, d):
        when_started(f"{d}/huge.bib")(process)
        with open(f"{d}/huge.bib", "r+b") as f:
            f.seek(len(HUGE) - 6)
            f.write(b"EDIT!")
    return {"args": ["--bibtex", "--in-place", "huge.bib"], "during": during}, {
        "status": 1, "stderr": b"?? huge.bib: changed while it was read, left as it was\n",
        "files": {"huge.bib": (bytes(edited), lambda p: True)}}


def put(path, data, how):
    with open(path, how) as f:
        f.write(data)


def after_writer(act):
    """What another writer's act makes of BIB: the content it leaves, or None for no file."""
    with tempfile.TemporaryDirectory() as scratch:
        write(f"{scratch}/refs.bib", BIB)
        act(f"{scratch}/refs.bib")
        return read(f"{scratch}/refs.bib") if os.path.exists(f"{scratch}/refs.bib") else None


# Another writer while the new content is flushed: fsync is held for 1.5 s and the other writer
# acts 0.3 s after orvane opened the small file, long after its filtering and long before the
# rename. Whatever the writer did, the file fails and is left as the writer made it.
for what, act, message in (
        ("an append", lambda p: put(p, b"note = {added by another writer}\n", "ab"), b"changed"),
        ("an edit of the same size", lambda p: put(p, b"@BOOK", "r+b"), b"changed"),
        ("a change of mode alone", lambda p: os.chmod(p, 0o600), b"changed"),
        ("a save by rename", lambda p: (write(p + ".new", b"saved\n"), os.rename(p + ".new", p)), b"replaced"),
        ("a removal", os.unlink, b"gone"),
        ("a move away", lambda p: os.rename(p, p + ".moved"), b"gone")):
    @row(f"{what} by another writer while the new content is flushed", tools=("strace",))
    def _(d, act=act, message=message):
        write(f"{d}/refs.bib", BIB)
        expected = after_writer(act)

        def during(process, d):
            when_started(f"{d}/refs.bib")(process)
            time.sleep(0.3)
            act(f"{d}/refs.bib")
        reason = {b"changed": b"changed while it was read, left as it was",
                  b"replaced": b"replaced while it was read, left as it was",
                  b"gone": b"gone while it was read, not made again"}[message]
        files = {"refs.bib": (expected, lambda p: True) if expected is not None else "absent"}
        return {"args": ["--bibtex", "--in-place", "refs.bib"], "strace": slowed("fsync", 1.5, "first"),
                "during": during}, {
            "status": 1, "stderr": WARNING % b"refs.bib" + b"?? refs.bib: " + reason + b"\n", "files": files}


@row("a signal while the rename waits: the file is replaced, then the run ends", tools=("strace",))
def _(d):
    write(f"{d}/refs.bib", BIB)
    write(f"{d}/after.bib", OTHER)

    def during(process, d):
        when_started(f"{d}/refs.bib")(process)
        time.sleep(0.5)
        os.kill(orvane_of(process), signal.SIGTERM)
    return {"args": ["--bibtex", "--in-place", "refs.bib", "after.bib"], "strace": slowed("renameat", 1.5, "first"),
            "during": during}, {
        "status": (-signal.SIGTERM, 128 + signal.SIGTERM), "stderr": WARNING % b"refs.bib",
        "files": {"refs.bib": (DONE, lambda p: True), "after.bib": OTHER}}


@row("a second signal while the first is handled and removes the named new file", needs_root=True, tools=("strace",))
def _(d):
    write(f"{d}/huge.bib", HUGE)

    def during(process, d):
        named_temporary_seen(d)
        pid = orvane_of(process)
        os.kill(pid, signal.SIGTERM)
        time.sleep(0.3)  # the handler's unlinkat is held for 1 s
        os.kill(pid, signal.SIGINT)
    return {"args": ["--bibtex", "--in-place", "huge.bib"], "no_proc": True, "strace": slowed("unlinkat", 1.0),
            "during": during}, {
        "status": (-signal.SIGTERM, 128 + signal.SIGTERM), "stderr": b"?? huge.bib: Terminated, left as it was\n",
        "files": {"huge.bib": HUGE}}


@row("a refused rename: the new file, named by then, is removed", tools=("strace",))
def _(d):
    write(f"{d}/refs.bib", BIB)
    write(f"{d}/after.bib", OTHER)
    return {"args": ["--bibtex", "--in-place", "refs.bib", "after.bib"], "strace": refused("renameat", "EPERM")}, {
        "status": 1, "stderr": WARNING % b"refs.bib" + b"?? refs.bib: cannot replace it: Operation not permitted\n",
        "files": {"refs.bib": BIB, "after.bib": (OTHER_DONE, lambda p: True)}}


# The named temporary file's own failure paths, where there is no /proc to name an unnamed one.
@row("no /proc: a refused rename removes the named new file", needs_root=True, tools=("strace",))
def _(d):
    write(f"{d}/refs.bib", BIB)
    write(f"{d}/after.bib", OTHER)
    return {"args": ["--bibtex", "--in-place", "refs.bib", "after.bib"], "no_proc": True,
            "strace": refused("renameat", "EPERM")}, {
        "status": 1, "stderr": WARNING % b"refs.bib" + b"?? refs.bib: cannot replace it: Operation not permitted\n",
        "files": {"refs.bib": BIB, "after.bib": (OTHER_DONE, lambda p: True)}}


@row("no /proc: a file-size limit removes the named new file", needs_root=True)
def _(d):
    write(f"{d}/big.bib", OTHER * 2000)
    write(f"{d}/after.bib", OTHER)
    return {"args": ["--bibtex", "--in-place", "big.bib", "after.bib"], "no_proc": True,
            "preexec": lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))}, {
        "status": 1, "stderr": b"?? big.bib: cannot write the new content: File too large\n",
        "files": {"big.bib": OTHER * 2000, "after.bib": (OTHER_DONE, lambda p: True)}}


@row("no /proc: a full disk removes the named new file", needs_root=True)
def _(d):
    os.mkdir(f"{d}/small")
    full_disk(d)
    write(f"{d}/small/big.bib", OTHER * 1500)
    write(f"{d}/small/after.bib", OTHER)
    return {"args": ["--bibtex", "--in-place", "small/big.bib", "small/after.bib"], "no_proc": True}, {
        "status": 1, "stderr": b"?? small/big.bib: cannot write the new content: No space left on device\n",
        "files": {"small/big.bib": OTHER * 1500, "small/after.bib": (OTHER_DONE, lambda p: True)}}


# Signals beyond the usual few: every one of the system's whose default action ends the process
# is caught (all but SIGKILL, which cannot be, and SIGSTOP's kin, which stop it or do nothing),
# and where the new file is named from the start (no /proc) it is removed; a few of those again
# without /proc.
def ends_the_process(number):
    """Whether the signal's default action ends a process: terminate, or terminate with a core."""
    kept = {signal.SIGKILL, signal.SIGSTOP, signal.SIGTSTP, signal.SIGTTIN, signal.SIGTTOU, signal.SIGCHLD,
            signal.SIGCONT, signal.SIGURG, signal.SIGWINCH}
    return number not in kept


USUAL = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT, signal.SIGPIPE, signal.SIGALRM,
         signal.SIGUSR1, signal.SIGUSR2, signal.SIGXCPU)
OTHERS = [n for n in sorted(signal.valid_signals()) if ends_the_process(n) and n not in USUAL
          and n != signal.SIGXFSZ]  # a file-size limit is a write error of the one file
for number in OTHERS:
    for no_proc in (False, True) if number in (signal.SIGABRT, signal.SIGIO, signal.SIGPWR, signal.SIGSEGV,
                                               signal.SIGRTMIN + 1, signal.SIGRTMAX) else (False,):
        label = (signal.Signals(number).name if number in signal.Signals.__members__.values()
                 else f"SIGRTMIN+{number - signal.SIGRTMIN}")
        @row(f"{label}{', no /proc' if no_proc else ''}", needs_root=no_proc)
        def _(d, number=number, no_proc=no_proc):
            write(f"{d}/huge.bib", HUGE)
            write(f"{d}/after.bib", OTHER)
            text = signal.strsignal(number).encode()

            def during(process, d):
                when_started(f"{d}/huge.bib")(process)
                if no_proc:
                    named_temporary_seen(d)
                else:
                    time.sleep(0.02)
                process.send_signal(number)
            return {"args": ["--bibtex", "--in-place", "huge.bib", "after.bib"], "no_proc": no_proc,
                    "during": during}, {
                "status": -number, "stderr": lambda err, t=text: err.endswith(b"?? huge.bib: " + t + b", left as it was\n"),
                "files": {"huge.bib": HUGE, "after.bib": OTHER}}


# A signal ignored when orvane starts (nohup, or a shell's background job) stays ignored: the run
# goes on and replaces the files, as the caller asked.
@row("a hang-up ignored at start, as under nohup, ends nothing")
def _(d):
    write(f"{d}/huge.bib", HUGE)
    write(f"{d}/after.bib", OTHER)
    return {"args": ["--bibtex", "--in-place", "huge.bib", "after.bib"],
            "preexec": lambda: signal.signal(signal.SIGHUP, signal.SIG_IGN),
            "during": kill_after(signal.SIGHUP, 0.01)}, {
        "status": 0, "stderr": None,
        "files": {"huge.bib": subprocess.run([ORVANE, "--bibtex"], input=HUGE, capture_output=True).stdout,
                  "after.bib": OTHER_DONE}}


# A name is never written raw: its control bytes and backslashes are escaped in every message, so
# a name cannot forge a finding in another file, nor move a terminal's cursor.
FORGED = "refs.bib:7:9780201896831 would be written as 978-0-201-89683-1.\nz.bib"


@row("--check: a name that would forge a finding is escaped")
def _(d):
    write(f"{d}/{FORGED}", OTHER)
    return {"args": ["--bibtex", "--check", FORGED]}, {
        "status": 1, "stderr": b"refs.bib:7:9780201896831 would be written as 978-0-201-89683-1.\\nz.bib:1:"
                               b"9780201896831 would be written as 978-0-201-89683-1.\n",
        "files": {FORGED: OTHER}}


@row("in place: warnings, failures and the signal line name an escaped file")
def _(d):
    write(f"{d}/a\033[2K\\b.bib", BIB)
    write(f"{d}/huge\r.bib", HUGE)

    def during(process, d):
        when_started(f"{d}/huge\r.bib")(process)
        process.send_signal(signal.SIGTERM)
    return {"args": ["--bibtex", "--in-place", "a\033[2K\\b.bib", "no\tsuch.bib", "huge\r.bib"], "during": during}, {
        "status": -signal.SIGTERM,
        "stderr": WARNING % b"a\\033[2K\\\\b.bib" + b"?? no\\tsuch.bib: No such file or directory\n"
                  b"?? huge\\r.bib: Terminated, left as it was\n",
        "files": {"a\033[2K\\b.bib": DONE, "huge\r.bib": HUGE}}


# Many files in one call, whose first changes fall early, late (after more than a block of text
# that does not change), at the very end, or nowhere: what one file leaves in the output room must
# not reach the next. Each result is the filter of that file alone. The same under a descriptor
# limit that one descriptor kept per file would exhaust, and where there is no /proc.
LATE = b"@misc{m, note = {unchanged text}}\n" * 10000
MANY = [LATE + OTHER, OTHER + LATE, b"", LATE, b"isbn = {0201633612}", BIB, LATE + LATE + BIB,
        OTHER_DONE, b"@book{k, isbn = {0201633612}", OTHER * 3, LATE + b"@book{z, isbn={0201633612}}", OTHER]


def filtered_alone(text, name):
    """The filter's output for the text, and its warnings as in place names the file."""
    run = subprocess.run([ORVANE, "--bibtex"], input=text, capture_output=True, check=True)
    return run.stdout, b"".join(name.encode() + line[1:] for line in run.stderr.splitlines(keepends=True))


for label, extra in (("", {}),
                     (", under a limit of 10 descriptors",
                      {"preexec": lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (10, 10))}),
                     (", no /proc", {"no_proc": True})):
    @row(f"{len(MANY)} files in one call, changes early, late and nowhere{label}", needs_root="no_proc" in extra)
    def _(d, extra=extra):
        names = [f"f{i}.bib" for i in range(len(MANY))]
        files, warnings = {}, b""
        for name, text in zip(names, MANY):
            write(f"{d}/{name}", text)
            out, err = filtered_alone(text, name)
            files[name] = (out, None if out == text else lambda p: True)
            warnings += err
        return dict({"args": ["--bibtex", "--in-place", *names]}, **extra), {
            "status": 0, "stderr": warnings, "files": files}


def run_row(name, make):
    with tempfile.TemporaryDirectory() as d:
        os.chmod(d, 0o755)
        run, want = make(d)
        if SANITIZED and run.get("no_proc"):
            # The sanitizers' runtime reads its options and the process's threads from /proc.
            print(f"skipped: {name} (the sanitizers need /proc)")
            release(d)
            return
        before = {}
        for path in want["files"]:
            full = os.path.join(d, path)
            before[path] = attributes(full) if os.path.exists(full) else None
        command = run.get("command", [ORVANE, *run.get("args", [])])
        if run.get("no_proc"):
            # A mount namespace whose /proc is an empty file system: no unnamed temporary file
            # can be given a name there, so the new content is named from the start.
            command = ["unshare", "--mount", "--propagation", "private", "sh", "-c",
                       'mount -t tmpfs none /proc && exec "$@"', "sh", *command]
        if run.get("strace"):
            command = ["strace", "-f", "-qq", "-o", "/dev/null", *run["strace"], "--", *command]
        cwd = run.get("cwd", d)
        closing = run.get("close", ())
        preexec = run.get("preexec")

        def child():
            resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
            if isinstance(cwd, int):
                os.fchdir(cwd)
            if preexec:
                preexec()
            for fd in closing:
                os.close(fd)
        stderr = subprocess.PIPE
        if run.get("stderr_unread"):
            reader, stderr = os.pipe()
        environment = dict(os.environ)
        if SANITIZED and run.get("strace"):
            # LeakSanitizer stops the process through ptrace, which strace holds.
            environment["ASAN_OPTIONS"] = environment.get("ASAN_OPTIONS", "") + ":detect_leaks=0"
        process = subprocess.Popen(command, cwd=None if isinstance(cwd, int) else cwd, preexec_fn=child,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=stderr,
                                   pass_fds=(cwd,) if isinstance(cwd, int) else (), env=environment)
        if run.get("during"):
            run["during"](process, d)
        if run.get("stderr_unread"):
            os.close(stderr)
            try:
                process.wait(timeout=30)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
                expect(False, f"{name}: did not end while standard error was full")
            os.close(reader)
            out, err = b"", None
        else:
            out, err = process.communicate(timeout=120)
        status = process.returncode
        wanted = want["status"] if isinstance(want["status"], tuple) else (want["status"],)
        expect(status in wanted, f"{name}: status {status}, expected {want['status']}; {err!r:.300}")
        wanted_err = want["stderr"]
        if wanted_err is not None:
            ok = wanted_err(err) if callable(wanted_err) else err == wanted_err
            expect(ok, f"{name}: standard error {err!r:.300}, expected {wanted_err!r:.300}")
        expect(out == b"", f"{name}: standard output {out!r:.100}")
        for path, expectation in want["files"].items():
            full = os.path.join(d, path)
            if expectation == "absent":
                expect(not os.path.lexists(full), f"{name}: {path} was made again")
                continue
            content, check = expectation if isinstance(expectation, tuple) else (expectation, None)
            expect(read(full) == content, f"{name}: {path} is not as expected")
            now = attributes(full)
            if check:
                expect(check(full), f"{name}: {path} has {now}")
            elif before[path] is not None:
                expect(now == before[path], f"{name}: {path} had {before[path]}, has {now}")
        if "deep" in want:
            fd, content = want["deep"]
            with open(os.open("refs.bib", os.O_RDONLY, dir_fd=fd), "rb") as f:
                expect(f.read() == content, f"{name}: the deep file is not as expected")
            expect(not [n for n in os.listdir(fd) if n.startswith(".orvane")], f"{name}: left a temporary file")
            os.close(fd)
        expect(not leftovers(d), f"{name}: left {leftovers(d)}")
        release(d)


def release(d):
    """Undoes what a row did that would keep its directory from being removed."""
    subprocess.run(["umount", "-q", os.path.join(d, "small")], capture_output=True)
    subprocess.run(["chmod", "-R", "u+rwx", d], capture_output=True)


WORDS = sys.argv[2:]
chosen = [r for r in ROWS if not WORDS or any(word in r[0] for word in WORDS)]
if not chosen:
    print(f"no row is named with any of {WORDS}")
    sys.exit(1)
for name, needs_root, tools, make in chosen:
    if needs_root and not ROOT:
        print(f"skipped: {name} (needs root)")
        continue
    absent = [tool for tool in tools if shutil.which(tool) is None]
    if absent:
        print(f"skipped: {name} (needs {', '.join(absent)}, which is not installed)")
        continue
    run_row(name, make)
shutil.rmtree(BINARIES)

finish()
