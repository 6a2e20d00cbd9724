#!/usr/bin/env bash
# Times orvane against cat and against a python-stdnum filter on the three benchmark corpora,
# counts instructions per line on the dense corpus with callgrind, and records peak memory.
#
#   bench/run.sh [SCALE]     SCALE 1 (the default) is the full size: 1,000,000 dense lines,
#                            100 MB of BibTeX, 100 MB of prose
#
# Needs hyperfine, valgrind, GNU time and python3-stdnum (Debian packages of those names); the
# peer runs under Debian's /usr/bin/python3, where python3-stdnum is installed.
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
  # BibTeX mode runs on the bib corpus, in the same hyperfine run as cat and the default mode.
  bibtex=()
  if [ "$name" = bib ]; then
    bibtex=(-n bibtex "build-bench/orvane --bibtex < $input > $results/bibtex.out 2> $results/bibtex.err")
  fi
  commands=(-n cat "cat $input > $results/cat.out"
            -n orvane "build-bench/orvane < $input > $results/orvane.out 2> $results/orvane.err"
            "${bibtex[@]}")
  # Each run writes a fresh file: the last run's output is removed first, outside the timing.
  hyperfine --style none --warmup 1 --runs "$runs" --export-json "$results/$name.json" \
    --prepare "rm -f $results/cat.out $results/orvane.out $results/bibtex.out" "${commands[@]}" >/dev/null
  # The same over the last run's output, as `cmd > file` run again does: the shell's truncation of
  # that file (100 MB here) is timed too, and it costs about as much as cat's whole copy.
  hyperfine --style none --warmup 1 --runs "$runs" --export-json "$results/$name-truncating.json" \
    "${commands[@]}" >/dev/null
  hyperfine --style none --runs 3 --export-json "$results/$name-stdnum.json" \
    -n stdnum "/usr/bin/python3 bench/stdnum_peer.py < $input > $results/stdnum.out 2> /dev/null" >/dev/null
  /usr/bin/time -f %M -o "$results/$name.peak" build-bench/orvane < "$input" > "$results/orvane.out" 2>/dev/null
  if [ "$name" = bib ]; then
    /usr/bin/time -f %M -o "$results/bibtex.peak" build-bench/orvane --bibtex < "$input" > /dev/null 2>&1
  fi
  if [ "$name" = dense ]; then
    # What orvane changed, for the count of hyphenated ISBNs.
    cp "$results/orvane.out" "$results/dense.out"
  fi
done

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
