#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a bounded time, from the committed
# corpus in fuzz/corpus/TARGET (minimised) and seeds made of the test fixtures. Fails on any
# finding; the fuzzer leaves the input that found it as crash-*, leak-* or timeout-* in
# fuzz/findings/.
#
#   fuzz/run.sh [SECONDS]            time per target, 60 by default
#   fuzz/run.sh SECONDS --merge      then minimise what the run found into fuzz/corpus
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
merge=${2:-}
build=build-fuzz
work=$build/fuzz-work
targets=(filter bibtex input hyphenate table ranges)

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_FUZZ=ON -DORVANE_TESTS=OFF >/dev/null
cmake --build "$build" -j"${JOBS:-2}" --target "${targets[@]/#/fuzz_}" >/dev/null

rm -rf "$work"
for target in "${targets[@]}"; do
  mkdir -p "$work/$target" "fuzz/corpus/$target"
  cp fuzz/corpus/"$target"/* "$work/$target/" 2>/dev/null || true
done
mkdir -p fuzz/findings
# Seeds: the end-to-end inputs and the sample for the filters, behind each of a few choices of
# mode, read sizes, errors and output into a file for the input loop; their ISBN lines, with a
# few prefix bytes, for hyphenation; range rows for the table.
i=0
for f in tests/cases/*/input examples/sample.bib; do
  head -c 8000 "$f" > "$work/filter/seed-$((i++))"
  head -c 8000 "$f" > "$work/bibtex/seed-$((i++))"
  for control in '\000\000\001\007\045\100\003\002\011\004' '\001\005\020\003\007\001\060\002\011\004' \
                 '\006\003\100\001\002\003\004\005\006\007' '\007\010\011\017\002\001\077\005\011\004' \
                 '\200\000\005\007\001\020\003\002\011\004' '\201\000\005\007\001\020\003\002\011\004' \
                 '\010\000\005\007\001\020\003\002\011\004' '\131\000\003\001\007\001\060\002\011\004' \
                 '\000\100\005\007\001\020\003\002\011\004' '\071\300\003\001\007\001\060\002\011\004'; do
    { printf "$control"; head -c 8000 "$f"; } > "$work/input/seed-$((i++))"
  done
done
grep -a -h -o -E '[0-9][0-9Xx -]{8,20}' tests/cases/*/input examples/sample.bib | sed -n 1,200p |
  while IFS= read -r line; do
    printf '\001\020\000%s' "$line" > "$work/hyphenate/seed-$((i++))"
    printf '\000\020\000%s' "$line" > "$work/hyphenate/seed-$((i++))"
  done
# Range exports: the small one whole, the real ones cut to the length limit.
cp tests/fixtures/ranges/RangeMessage-small.xml "$work/ranges/seed-small"
for f in tests/fixtures/ranges/RangeMessage-20*.xml; do
  head -c 8000 "$f" > "$work/ranges/seed-$((i++))"
done
printf '0-00\0000-19\000Region name:     Test\0000-200\0000-227\000\0000201633612' > "$work/table/seed-1"
printf '1-5\0001-3\000\00012345-6789\0001-2\000x\0001-\000-12\000\0009990180016' > "$work/table/seed-2"

status=0
for target in "${targets[@]}"; do
  log=$work/$target.log
  if "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len=8192 -len_control=0 \
       -print_final_stats=1 -artifact_prefix=fuzz/findings/ "$work/$target" >"$log" 2>&1; then
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$')
    coverage=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | grep -o '[0-9]*$')
    echo "fuzz_$target: $runs executions in ${seconds} s, coverage $coverage edges, no findings"
  else
    echo "fuzz_$target: FINDING"
    tail -n 40 "$log"
    status=1
  fi
  if [ "$merge" = --merge ]; then
    rm -rf "$work/$target.merged" && mkdir -p "$work/$target.merged"
    "$build/fuzz/fuzz_$target" -merge=1 -max_len=8192 "$work/$target.merged" "$work/$target" >/dev/null 2>&1
    rm -f fuzz/corpus/"$target"/*
    cp "$work/$target.merged"/* "fuzz/corpus/$target/"
  fi
done
exit $status
