"""Runs a command with standard input fed through a pipe in pieces, each read by the command on
its own: a piece is written only once the pipe has been emptied, so every read returns exactly
one piece. A block boundary then falls after every line (or every byte), and any state that the
program carries from one read to the next is exercised.

    run(command, data, how) -> subprocess.CompletedProcess
    how: "lines" (one read per line) or "bytes" (one read per byte)
"""
import fcntl
import os
import struct
import subprocess
import termios
import threading
import time


def pieces(data, how):
    if how == "bytes":
        return [data[i:i + 1] for i in range(len(data))]
    return data.splitlines(keepends=True)


def unread(descriptor):
    """The bytes written to a pipe and not yet read, asked of its write end."""
    return struct.unpack("i", fcntl.ioctl(descriptor, termios.FIONREAD, b"\0\0\0\0"))[0]


def run(command, data, how, timeout=60, env=None):
    process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
    collected = {}

    def collect(name, stream):
        collected[name] = stream.read()

    readers = [threading.Thread(target=collect, args=(name, getattr(process, name))) for name in ("stdout", "stderr")]
    for reader in readers:
        reader.start()
    descriptor = process.stdin.fileno()
    deadline = time.monotonic() + timeout
    try:
        for piece in pieces(data, how):
            os.write(descriptor, piece)
            while unread(descriptor) > 0 and process.poll() is None:
                if time.monotonic() > deadline:
                    raise TimeoutError(f"{command}: input not read within {timeout} s")
                time.sleep(0)
    except BrokenPipeError:
        pass
    process.stdin.close()
    status = process.wait(timeout)
    for reader in readers:
        reader.join()
    return subprocess.CompletedProcess(command, status, collected["stdout"], collected["stderr"])
