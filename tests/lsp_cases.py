#!/usr/bin/env python3
"""orvane --lsp as an editor drives it: each case is a session of messages sent in turn, each
followed by what the server must answer (the messages it sends before the next is sent, found by
their id or their method), and the exit status. Malformed input gets the protocol's answer, and
nothing but protocol ever reaches standard output.

    lsp_cases.py ORVANE [WORD ...]      with words, only the cases whose names hold one
"""
import json
import os
import select
import subprocess
import sys
import tempfile
import time

ORVANE = sys.argv[1] if len(sys.argv) > 1 else "orvane"
SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
SMALL_EXPORT = os.path.join(SOURCE, "tests", "fixtures", "ranges", "RangeMessage-small.xml")


class Session:
    """A server and the client's side of its pipes."""

    def __init__(self, env=None, preexec=None):
        self.process = subprocess.Popen([ORVANE, "--lsp"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE, env=env, preexec_fn=preexec)
        self.buffer = bytearray()
        self.stray = b""  # bytes on standard output that are not a message

    def send_raw(self, data):
        self.process.stdin.write(data)
        self.process.stdin.flush()

    def send(self, message):
        body = json.dumps(dict({"jsonrpc": "2.0"}, **message)).encode()
        self.send_raw(b"Content-Length: %d\r\n\r\n" % len(body) + body)

    def receive(self, timeout):
        """The next message, or None when none comes in time or the output ends."""
        end = time.monotonic() + timeout
        while True:
            header_end = self.buffer.find(b"\r\n\r\n")
            if header_end >= 0:
                header = self.buffer[:header_end]
                if not header.startswith(b"Content-Length: "):
                    self.stray += bytes(self.buffer)
                    self.buffer = bytearray()
                else:
                    length = int(header.split(b":")[1])
                    if len(self.buffer) >= header_end + 4 + length:
                        body = bytes(self.buffer[header_end + 4:header_end + 4 + length])
                        del self.buffer[:header_end + 4 + length]
                        return json.loads(body)
            left = end - time.monotonic()
            if left <= 0 or not select.select([self.process.stdout], [], [], left)[0]:
                return None
            chunk = os.read(self.process.stdout.fileno(), 1 << 16)
            if not chunk:
                return None
            self.buffer += chunk

    def until(self, test, timeout=5):
        """Messages until one passes test; all of them."""
        seen = []
        while True:
            message = self.receive(timeout)
            if message is None:
                return seen, None
            seen.append(message)
            if test(message):
                return seen, message

    def close(self):
        self.process.stdin.close()
        status = self.process.wait(timeout=10)
        self.stray += bytes(self.buffer) + self.process.stdout.read()
        return status


def request(ident, method, params=None):
    return {"id": ident, "method": method, "params": params or {}}


def notification(method, params=None):
    return {"method": method, "params": params or {}}


def opened(uri, text, language="bibtex"):
    return notification("textDocument/didOpen", {"textDocument": {"uri": uri, "languageId": language,
                                                                  "version": 1, "text": text}})


def position(line, character):
    return {"line": line, "character": character}


def span(line, start, end):
    return {"start": position(line, start), "end": position(line, end)}


INITIALIZE = request(1, "initialize", {"capabilities": {}})
BIB = "@book{k,\n  title = {Caf\u00e9 \u2615 \U0001d11e},  isbn = {0201633613},\n  isbn = {0201633612},\n}\n"
URI = "file:///w/refs.bib"
CASES = []


def case(name):
    """Adds a case: a function of a fresh session that returns the problems it saw; its
    status attribute, where set, is the exit status it expects (0 by default)."""
    def add(body):
        CASES.append((name, body))
        return body
    return add


def run_cases(words):
    failures = 0
    chosen = [(name, body) for name, body in CASES if not words or any(word in name for word in words)]
    for name, body in chosen:
        session = Session()
        try:
            problems = body(session) or []
        except Exception as error:  # noqa: BLE001 -- a case that breaks is a failed case
            problems = [f"{type(error).__name__}: {error}"]
        status = session.close() if session.process.poll() is None else session.process.returncode
        if session.stray:
            problems.append(f"bytes on standard output that are not protocol: {session.stray[:200]!r}")
        if status != getattr(body, "status", 0):
            problems.append(f"exit status {status}, expected {getattr(body, 'status', 0)}")
        for problem in problems:
            failures += 1
            print(f"FAILED {name}: {problem}")
    print(f"{len(chosen) - min(failures, len(chosen))} passed, {failures} failed")
    return 1 if failures or not chosen else 0


def answer(session, ident, timeout=5):
    return session.until(lambda m: m.get("id") == ident, timeout)[1]


def diagnostics(session, uri=URI, timeout=5):
    message = session.until(lambda m: m.get("method") == "textDocument/publishDiagnostics"
                            and m["params"]["uri"] == uri, timeout)[1]
    return message and message["params"]["diagnostics"]


def shut(session):
    session.send(request(99, "shutdown"))
    reply = answer(session, 99)
    session.send(notification("exit"))
    return [] if reply == {"jsonrpc": "2.0", "id": 99, "result": None} else [f"shutdown answered {reply}"]


@case("a .bib: diagnostics at the number's range in UTF-16, a wrong check digit an error")
def _(s):
    s.send(INITIALIZE)
    init = answer(s, 1)
    caps = init["result"]["capabilities"]
    problems = [] if caps["documentFormattingProvider"] and caps["positionEncoding"] == "utf-16" else [f"{caps}"]
    s.send(notification("initialized"))
    s.send(opened(URI, BIB))
    got = diagnostics(s)
    want = [{"range": span(1, 32, 42), "severity": 1, "source": "orvane",
             "message": "invalid ISBN-10 value [0201633613]."}]
    if got != want:
        problems.append(f"diagnostics {got}")
    return problems + shut(s)


@case("code actions at a number: this ISBN, as ISBN-13, every ISBN; formatting the smallest edits")
def _(s):
    s.send(INITIALIZE)
    answer(s, 1)
    text = "see 0201633612 and\nalso 9780201896831, 0201633613\n"
    s.send(opened("file:///w/list.txt", text, "plaintext"))
    s.send(request(2, "textDocument/codeAction", {"textDocument": {"uri": "file:///w/list.txt"},
                                                  "range": span(0, 6, 6), "context": {"diagnostics": []}}))
    actions = answer(s, 2)["result"]
    titles = [a["title"] for a in actions]
    problems = [] if titles == ["Hyphenate this ISBN", "Write as ISBN-13", "Hyphenate every ISBN in this file"] \
        else [f"titles {titles}"]
    edit = actions[0]["edit"]["changes"]["file:///w/list.txt"]
    if edit != [{"range": span(0, 4, 14), "newText": "0-201-63361-2"}]:
        problems.append(f"this ISBN: {edit}")
    if actions[1]["edit"]["changes"]["file:///w/list.txt"][0]["newText"] != "978-0-201-63361-0":
        problems.append(f"as ISBN-13: {actions[1]}")
    s.send(request(3, "textDocument/formatting", {"textDocument": {"uri": "file:///w/list.txt"}, "options": {}}))
    edits = answer(s, 3)["result"]
    if edits != [{"range": span(0, 4, 14), "newText": "0-201-63361-2"},
                 {"range": span(1, 5, 18), "newText": "978-0-201-89683-1"}]:
        problems.append(f"formatting {edits}")
    s.send(request(4, "textDocument/rangeFormatting", {"textDocument": {"uri": "file:///w/list.txt"},
                                                       "range": span(1, 0, 30), "options": {}}))
    if answer(s, 4)["result"] != [{"range": span(1, 5, 18), "newText": "978-0-201-89683-1"}]:
        problems.append("range formatting")
    # Away from any number, only the action for the whole file.
    s.send(request(5, "textDocument/codeAction", {"textDocument": {"uri": "file:///w/list.txt"},
                                                  "range": span(0, 0, 1), "context": {"diagnostics": []}}))
    if [a["title"] for a in answer(s, 5)["result"]] != ["Hyphenate every ISBN in this file"]:
        problems.append("actions away from a number")
    return problems + shut(s)


@case("BibTeX mode by language or name: a DOI left alone in a .bib, hyphenated in text")
def _(s):
    s.send(INITIALIZE)
    answer(s, 1)
    text = "@book{k, doi = {10.1/9780201633610}, isbn = {0201633612}}\n"
    problems = []
    for ident, (uri, language) in enumerate((("file:///w/a.bib", "plaintext"), ("file:///w/a", "biblatex"),
                                             ("file:///w/a.txt", "plaintext")), start=2):
        s.send(opened(uri, text, language))
        s.send(request(ident, "textDocument/formatting", {"textDocument": {"uri": uri}, "options": {}}))
        count = len(answer(s, ident)["result"])
        if count != (2 if uri.endswith(".txt") else 1):
            problems.append(f"{uri} ({language}): {count} edits")
    return problems + shut(s)


@case("settings: isbn13 from the start; a range export refused in the command line's words, then taken")
def _(s):
    s.send(request(1, "initialize", {"capabilities": {}, "initializationOptions": {"isbn13": True}}))
    answer(s, 1)
    text = "9789969500127 0201633612\n"
    s.send(opened("file:///w/n.txt", text, "plaintext"))
    s.send(request(2, "textDocument/formatting", {"textDocument": {"uri": "file:///w/n.txt"}, "options": {}}))
    problems = []
    if [e["newText"] for e in answer(s, 2)["result"]] != ["978-0-201-63361-0"]:
        problems.append("isbn13 from initializationOptions")
    s.send(notification("workspace/didChangeConfiguration", {"settings": {"orvane": {"ranges": "/no/such.xml"}}}))
    said = s.until(lambda m: m.get("method") == "window/showMessage")[1]
    want = subprocess.run([ORVANE, "--ranges=/no/such.xml", "x"], capture_output=True, text=True).stderr.strip()
    if not said or said["params"] != {"type": 1, "message": want}:
        problems.append(f"the refusal: {said} (the command line: {want!r})")
    s.send(notification("workspace/didChangeConfiguration",
                        {"settings": {"orvane": {"ranges": SMALL_EXPORT, "isbn13": False}}}))
    s.send(request(3, "textDocument/formatting", {"textDocument": {"uri": "file:///w/n.txt"}, "options": {}}))
    edits = [e["newText"] for e in answer(s, 3)["result"]]
    want = subprocess.run([ORVANE, "--ranges=" + SMALL_EXPORT], input=text, capture_output=True, text=True).stdout
    if " ".join(edits) != " ".join(w for w in want.split() if "-" in w):
        problems.append(f"the export's ranges: {edits}, the command line: {want!r}")
    return problems + shut(s)


def with_variable():
    env = dict(os.environ, ISBN_RANGE_MESSAGE=SMALL_EXPORT)
    return env


@case("malformed and out-of-order messages get the protocol's answers")
def _(s):
    problems = []
    s.send(request(7, "textDocument/formatting", {"textDocument": {"uri": URI}}))
    if answer(s, 7).get("error", {}).get("code") != -32002:
        problems.append("a request before initialize")
    s.send(INITIALIZE)
    answer(s, 1)
    s.send_raw(b"Content-Length: 9\r\n\r\n{not json")
    if s.receive(5) != {"jsonrpc": "2.0", "id": None, "error": {"code": -32700, "message": "the message is not JSON"}}:
        problems.append("malformed JSON")
    s.send(request(8, "no/such/method"))
    if answer(s, 8).get("error", {}).get("code") != -32601:
        problems.append("an unknown method")
    s.send(notification("no/such/notification"))
    s.send(request(9, "textDocument/codeAction", {"textDocument": {"uri": URI}, "range": "nowhere"}))
    if answer(s, 9).get("error", {}).get("code") != -32602:
        problems.append("invalid params")
    s.send({"id": 10})
    if answer(s, 10).get("error", {}).get("code") != -32600:
        problems.append("a request without a method")
    s.send(request(11, "textDocument/formatting", {"textDocument": {"uri": "file:///never/opened"}}))
    if answer(s, 11).get("result") != []:
        problems.append("a document never opened")
    problems += shut(s)
    return problems


@case("after shutdown, requests are refused; exit without shutdown is status 1; a client that dies is status 1")
def _(s):
    s.send(INITIALIZE)
    answer(s, 1)
    s.send(request(2, "shutdown"))
    answer(s, 2)
    s.send(request(3, "textDocument/formatting", {"textDocument": {"uri": URI}}))
    problems = [] if answer(s, 3).get("error", {}).get("code") == -32600 else ["a request after shutdown"]
    s.send(notification("exit"))
    for how in ("exit", "eof"):
        other = Session()
        other.send(INITIALIZE)
        answer(other, 1)
        if how == "exit":
            other.send(notification("exit"))
        if other.close() != 1:
            problems.append(f"without shutdown ({how}): not status 1")
    return problems


@case("ISBN_RANGE_MESSAGE is honoured; a document of 20 MB gets its diagnostics")
def _(s):
    s.close()
    s.__init__(env=with_variable())
    s.send(INITIALIZE)
    answer(s, 1)
    filler = "  note = {A line of prose between the entries, as real files have them.},\n"
    big = filler * (20_000_000 // len(filler)) + "  isbn = {0201633613},\n"
    s.send(opened("file:///w/big.txt", big, "plaintext"))
    got = diagnostics(s, "file:///w/big.txt", timeout=60)
    lines = big.count("\n")
    if got != [{"range": span(lines - 1, 10, 20), "severity": 1, "source": "orvane",
                "message": "invalid ISBN-10 value [0201633613]."}]:
        problems = [f"diagnostics of the large document: {got}"]
    else:
        problems = []
    s.send(opened("file:///w/small.txt", "9789969500127\n", "plaintext"))
    s.send(request(2, "textDocument/formatting", {"textDocument": {"uri": "file:///w/small.txt"}, "options": {}}))
    if [e["newText"] for e in answer(s, 2, 60)["result"]] != ["978-9969-500-12-7"]:
        problems.append("ISBN_RANGE_MESSAGE")
    return problems + shut(s)


@case("a change, a save and a close: diagnostics follow the text")
def _(s):
    s.send(INITIALIZE)
    answer(s, 1)
    s.send(opened(URI, BIB))
    problems = [] if len(diagnostics(s)) == 1 else ["at open"]
    s.send(notification("textDocument/didChange", {"textDocument": {"uri": URI, "version": 2},
                                                   "contentChanges": [{"text": BIB.replace("0201633613", "0201633612")}]}))
    if diagnostics(s) != []:
        problems.append("after the fix")
    # A change as editors send them, a range and its text: the wrong digit typed back in, after
    # the emoji whose two UTF-16 code units the range counts.
    s.send(notification("textDocument/didChange", {"textDocument": {"uri": URI, "version": 3},
                                                   "contentChanges": [{"range": span(1, 41, 42), "text": "3"}]}))
    got = diagnostics(s)
    if [d["range"] for d in got or []] != [span(1, 32, 42)]:
        problems.append(f"after a ranged change: {got}")
    s.send(notification("textDocument/didChange", {"textDocument": {"uri": URI, "version": 4},
                                                   "contentChanges": [{"range": span(1, 41, 42), "text": "2"}]}))
    if diagnostics(s) != []:
        problems.append("after a second ranged change")
    s.send(notification("textDocument/didSave", {"textDocument": {"uri": URI}}))
    if diagnostics(s) != []:
        problems.append("at save")
    s.send(notification("textDocument/didClose", {"textDocument": {"uri": URI}}))
    if diagnostics(s) != []:
        problems.append("at close")
    return problems + shut(s)


@case("a line of 660 KB holding 60,000 numbers: every edit at its place, within a bound of CPU time")
def _(s):
    import resource
    s.close()
    s.__init__(preexec=lambda: resource.setrlimit(resource.RLIMIT_CPU, (10, 10)))
    s.send(INITIALIZE)
    answer(s, 1)
    line = "0201633612 " * 60000 + "\n"
    s.send(opened("file:///w/line.txt", line, "plaintext"))
    s.send(request(2, "textDocument/formatting", {"textDocument": {"uri": "file:///w/line.txt"}, "options": {}}))
    reply = answer(s, 2, 60)
    edits = reply["result"] if reply else []
    problems = [] if len(edits) == 60000 and edits[-1] == {"range": span(0, 11 * 59999, 11 * 59999 + 10),
                                                           "newText": "0-201-63361-2"} \
        else [f"{len(edits)} edits, the last {edits[-1:]}"]
    return problems + shut(s)


@case("random messages of every method with parameters of every shape: never a crash, every request answered")
def _(s):
    import random
    rng = random.Random(20261211)
    s.send(INITIALIZE)
    answer(s, 1)
    s.send(opened(URI, BIB))
    methods = ["textDocument/didOpen", "textDocument/didChange", "textDocument/didSave", "textDocument/didClose",
               "textDocument/formatting", "textDocument/rangeFormatting", "textDocument/codeAction",
               "workspace/didChangeConfiguration", "initialize", "no/such"]
    shapes = [None, 0, -1, 2 ** 40, "x", "", [], {}, True, {"uri": URI}, {"line": -5, "character": 2 ** 33},
              {"start": {"line": 0, "character": 0}, "end": {"line": 99, "character": 0}}]

    def value(depth=0):
        if depth > 2 or rng.random() < 0.4:
            return rng.choice(shapes)
        keys = ["textDocument", "uri", "range", "start", "end", "line", "character", "text", "contentChanges",
                "settings", "orvane", "isbn13", "ranges", "languageId", "options"]
        return {rng.choice(keys): value(depth + 1) for _ in range(rng.randint(1, 4))}

    problems = []
    for ident in range(100, 400):
        message = {"method": rng.choice(methods), "params": value()}
        if rng.random() < 0.7:
            message["id"] = ident
        s.send(message)
        if "id" in message and answer(s, ident) is None:
            problems.append(f"no answer to {message}")
            break
    return problems + shut(s)


if __name__ == "__main__":
    sys.exit(run_cases(sys.argv[2:]))
