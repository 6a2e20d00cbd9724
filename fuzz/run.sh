#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a bounded time, starting from seed
# corpora made of the test fixtures. Fails on any finding; the fuzzer leaves the input that
# found it as crash-*, leak-* or timeout-* in fuzz/findings/.
#
#   fuzz/run.sh [SECONDS]    time per target, 60 by default
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
build=build-fuzz
work=$build/fuzz-work

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANE_FUZZ=ON -DORVANE_TESTS=OFF >/dev/null
cmake --build "$build" -j"${JOBS:-2}" --target fuzz_filter fuzz_bibtex fuzz_hyphenate fuzz_table >/dev/null

rm -rf "$work"
mkdir -p "$work"/{filter,bibtex,hyphenate,table} fuzz/findings
# Seeds: the end-to-end inputs and the sample for the filter; their ISBN lines, with a few
# prefix bytes, for hyphenation; range rows for the table.
i=0
for f in tests/cases/*/input examples/sample.bib; do
  cp "$f" "$work/filter/seed-$((i++))"
  cp "$f" "$work/bibtex/seed-$((i++))"
done
grep -a -h -o -E '[0-9][0-9Xx -]{8,20}' tests/cases/*/input examples/sample.bib | sed -n 1,200p |
  while IFS= read -r line; do
    printf '\001\020\000%s' "$line" > "$work/hyphenate/seed-$((i++))"
    printf '\000\020\000%s' "$line" > "$work/hyphenate/seed-$((i++))"
  done
printf '0-00\0000-19\000Region name:     Test\0000-200\0000-227\000\0000201633612' > "$work/table/seed-1"
printf '1-5\0001-3\000\00012345-6789\0001-2\000x\0001-\000-12\000\0009990180016' > "$work/table/seed-2"

status=0
for target in filter bibtex hyphenate table; do
  log=$work/$target.log
  if "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len=8192 -print_final_stats=1 \
       -artifact_prefix=fuzz/findings/ "$work/$target" >"$log" 2>&1; then
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$')
    echo "fuzz_$target: $runs executions in ${seconds} s, no findings"
  else
    echo "fuzz_$target: FINDING"
    tail -n 40 "$log"
    status=1
  fi
done
exit $status
