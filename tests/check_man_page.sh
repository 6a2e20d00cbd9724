#!/bin/sh
# Fails on any warning about the man page, from groff and mandoc, each where it is installed.
page=$1
if command -v groff >/dev/null 2>&1; then
  out=$(groff -man -ww -z "$page" 2>&1) || { echo "$out"; exit 1; }
  [ -z "$out" ] || { echo "$out"; exit 1; }
else
  echo "groff is not installed: its check is left out"
fi
if command -v mandoc >/dev/null 2>&1; then
  mandoc -Tlint "$page" || exit 1
fi
# Every message orvane prints is documented.
for message in "invalid ISBN\\\\-10 value" "invalid ISBN\\\\-13 value" "must begin with either 978 or 979" \
               "Write error on standard output" "Read error on standard input" \
               "Out of memory for an input line" "Input file is output file" \
               "BibTeX entry not closed before the entry" "BibTeX entry not understood" \
               "BibTeX entry not closed at the end of the input" "would be written as" "is in no range of the table" \
               "not a regular file" "cannot make a file in" "cannot write the new content" \
               "changed while it was read, left as it was" "cannot replace it" \
               "gone while it was read, not made again" \
               "in\\\\-place and \\\\-\\\\-check cannot be used together" "in\\\\-place needs a file" \
               "lsp takes no other option or argument"; do
  grep -q "$message" "$page" || { echo "not documented: $message"; exit 1; }
done
