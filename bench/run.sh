#!/usr/bin/env bash
# Times orvane against cat and against a python-stdnum filter on the three benchmark corpora, in
# interleaved rounds (bench/interleaved.py), counts instructions per line on the dense corpus
# with callgrind, and records peak memory.
#
#   bench/run.sh [SCALE]     SCALE 1 (the default) is the full size: 1,000,000 dense lines,
#                            100 MB of BibTeX, 100 MB of prose
#
# Needs valgrind, GNU time and python3-stdnum (Debian packages of those names); the peer runs
# under Debian's /usr/bin/python3, where python3-stdnum is installed.
set -euo pipefail
cd "$(dirname "$0")/.."
scale=${1:-1}
runs=${RUNS:-15}
corpus=bench/corpus/scale-$scale
results=bench/results
mkdir -p "$results"

cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DORVANE_TESTS=OFF >/dev/null
cmake --build build-bench -j2 >/dev/null
[ -f "$corpus/prose.txt" ] || python3 bench/make_corpus.py "$corpus" --scale "$scale"

for name in prose bib dense; do
  input=$corpus/$name.txt
  # BibTeX mode runs on the bib corpus, in the same rounds as cat and the default mode.
  bibtex=()
  if [ "$name" = bib ]; then
    bibtex=("bibtex=$input:$results/bibtex.out:$results/bibtex.err:build-bench/orvane --bibtex")
  fi
  commands=("cat=$input:$results/cat.out:/dev/null:cat"
            "orvane=$input:$results/orvane.out:$results/orvane.err:build-bench/orvane"
            "${bibtex[@]}")
  # Each run writes a fresh file: the last run's output is removed first, outside the timing.
  python3 bench/interleaved.py "$runs" 1 fresh "$results/$name.json" "${commands[@]}"
  # The same over the last run's output, as `cmd > file` run again does: the truncation of that
  # file (100 MB here) is timed too, and it costs about as much as cat's whole copy.
  python3 bench/interleaved.py "$runs" 1 over "$results/$name-truncating.json" "${commands[@]}"
  python3 bench/interleaved.py 3 0 over "$results/$name-stdnum.json" \
    "stdnum=$input:$results/stdnum.out:/dev/null:/usr/bin/python3 bench/stdnum_peer.py"
  /usr/bin/time -f %M -o "$results/$name.peak" build-bench/orvane < "$input" > "$results/orvane.out" 2>/dev/null
  if [ "$name" = bib ]; then
    /usr/bin/time -f %M -o "$results/bibtex.peak" build-bench/orvane --bibtex < "$input" > /dev/null 2>&1
  fi
  if [ "$name" = dense ]; then
    # What orvane changed, for the count of hyphenated ISBNs.
    cp "$results/orvane.out" "$results/dense.out"
  fi
done

# --in-place on a copy of the bib corpus against the filter into a file, with and without an fsync.
python3 bench/in_place.py build-bench/orvane "$corpus/bib.txt" "$results" "$runs" > "$results/in-place.txt"

# BibTeX mode on one-line files of 1, 4 and 16 MB: a line costs its length.
python3 bench/long_line.py build-bench/orvane "$results" "$runs" "$scale" > /dev/null

# Instructions per line do not depend on machine noise: callgrind on the first 100,000 lines.
head -n 100000 "$corpus/dense.txt" > "$results/dense-100k.txt"
valgrind --tool=callgrind --callgrind-out-file="$results/callgrind.out" \
  build-bench/orvane < "$results/dense-100k.txt" > /dev/null 2> "$results/callgrind.log"

# The same for BibTeX mode, per byte of the first 5 MB of the bib corpus.
head -c 5000000 "$corpus/bib.txt" > "$results/bib-5mb.txt"
valgrind --tool=callgrind --callgrind-out-file="$results/callgrind-bib.out" \
  build-bench/orvane < "$results/bib-5mb.txt" > /dev/null 2> "$results/callgrind-bib.log"
valgrind --tool=callgrind --callgrind-out-file="$results/callgrind-bibtex.out" \
  build-bench/orvane --bibtex < "$results/bib-5mb.txt" > /dev/null 2> "$results/callgrind-bibtex.log"

python3 bench/report.py "$corpus" "$results"
