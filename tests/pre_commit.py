#!/usr/bin/env python3
"""The pre-commit hooks of this checkout, run by the real pre-commit tool (try-repo) on a new git
repository with a .bib file that holds an unhyphenated ISBN, with the built orvane on the PATH:
the check hook fails and changes nothing; the rewriting hook fails once and rewrites the file,
and then both pass. The same for the form that needs no hosting, a repo: local configuration
with the installed orvane, as the README shows it.

    pre_commit.py PRE_COMMIT ORVANE SOURCE_DIR
"""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from expectations import expect, finish  # noqa: E402

pre_commit, orvane, source = sys.argv[1:4]
BIB = b"@book{gamma1994,\n  pages = {10023-10024},\n  isbn  = {0201633612},\n}\n"
DONE = BIB.replace(b"0201633612", b"0-201-63361-2")


with tempfile.TemporaryDirectory() as work:
    repository = os.path.join(work, "repository")
    os.mkdir(repository)
    environment = dict(os.environ, PATH=os.path.dirname(os.path.abspath(orvane)) + os.pathsep + os.environ["PATH"],
                       PRE_COMMIT_HOME=os.path.join(work, "cache"), GIT_AUTHOR_NAME="t", GIT_AUTHOR_EMAIL="t@example.org",
                       GIT_COMMITTER_NAME="t", GIT_COMMITTER_EMAIL="t@example.org", GIT_CONFIG_NOSYSTEM="1",
                       HOME=work)

    def git(*args):
        subprocess.run(["git", *args], cwd=repository, env=environment, check=True, capture_output=True)

    def hook(name):
        return subprocess.run([pre_commit, "try-repo", source, name, "--all-files"], cwd=repository,
                              env=environment, capture_output=True)

    def contents():
        with open(os.path.join(repository, "refs.bib"), "rb") as f:
            return f.read()

    git("init", "-q")
    with open(os.path.join(repository, "refs.bib"), "wb") as f:
        f.write(BIB)
    git("add", "refs.bib")
    result = hook("orvane-bibtex-check")
    expect(result.returncode == 1 and contents() == BIB
           and b"refs.bib:3:0201633612 would be written as 0-201-63361-2." in result.stdout,
           f"check hook, first run: {result.returncode} {result.stdout[-400:]!r} {result.stderr[-400:]!r}")
    result = hook("orvane-bibtex")
    expect(result.returncode == 1 and contents() == DONE and b"files were modified by this hook" in result.stdout,
           f"rewriting hook, first run: {result.returncode} {result.stdout[-400:]!r} {result.stderr[-400:]!r}")
    git("add", "refs.bib")
    for name in ("orvane-bibtex", "orvane-bibtex-check"):
        result = hook(name)
        expect(result.returncode == 0 and contents() == DONE,
               f"{name}, second run: {result.returncode} {result.stdout[-400:]!r} {result.stderr[-400:]!r}")

# The README's repo: local configuration, with a file whose name looks like an option.
LOCAL = """repos:
  - repo: local
    hooks:
      - id: orvane-bibtex-check
        name: check the ISBNs of BibTeX files
        entry: orvane --bibtex --check --
        language: system
        files: \\.bib$
      - id: orvane-bibtex
        name: hyphenate the ISBNs of BibTeX files
        entry: orvane --bibtex --in-place --
        language: system
        files: \\.bib$
"""
with tempfile.TemporaryDirectory() as work:
    repository = os.path.join(work, "repository")
    os.mkdir(repository)
    environment["PRE_COMMIT_HOME"] = os.path.join(work, "cache")
    environment["HOME"] = work
    git("init", "-q")
    with open(os.path.join(repository, ".pre-commit-config.yaml"), "w") as f:
        f.write(LOCAL)
    for name in ("refs.bib", "--ranges=x.bib"):
        with open(os.path.join(repository, name), "wb") as f:
            f.write(BIB)
    git("add", "--", ".pre-commit-config.yaml", "refs.bib", "--ranges=x.bib")

    def run(hook):
        return subprocess.run([pre_commit, "run", hook, "--all-files"], cwd=repository, env=environment,
                              capture_output=True)
    result = run("orvane-bibtex-check")
    expect(result.returncode == 1 and contents() == BIB
           and b"--ranges=x.bib:3:0201633612 would be written as 0-201-63361-2." in result.stdout,
           f"local check hook: {result.returncode} {result.stdout[-400:]!r} {result.stderr[-400:]!r}")
    result = run("orvane-bibtex")
    with open(os.path.join(repository, "--ranges=x.bib"), "rb") as f:
        other = f.read()
    expect(result.returncode == 1 and contents() == DONE and other == DONE,
           f"local rewriting hook: {result.returncode} {result.stdout[-400:]!r} {result.stderr[-400:]!r}")
    git("add", "--", "refs.bib", "--ranges=x.bib")
    result = run("orvane-bibtex-check")
    expect(result.returncode == 0, f"local check hook, second run: {result.returncode} {result.stdout[-400:]!r}")

finish()
