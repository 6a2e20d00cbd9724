#!/usr/bin/env bash
# Installs what the tests need and runs them, by stages: with no stage named, every stage in
# turn; with stages named, those alone, each installing only the packages it needs.
#
#   ./test.sh [STAGE ...]
#
#   release      the source format, the release build, its unit and end-to-end tests
#   page         the page's WebAssembly module and its tests in node and Debian's Chromium
#   scalar       the release suite with the portable scalar scanning kernels
#   sanitizers   the suite under AddressSanitizer, LeakSanitizer and UndefinedBehaviorSanitizer
#   fuzzing      each fuzz target for FUZZ_SECONDS (40 by default)
#   package      the Debian package, built and checked by lintian
#   bench        the benchmark's scripts on small corpora (bench/run.sh measures for real)
#
# Each stage prints how long it took, and the end a table of them all.
set -euo pipefail
cd "$(dirname "$0")"
jobs=${JOBS:-2}
all=(release page scalar sanitizers fuzzing package bench)
stages=("$@")
[ "${#stages[@]}" -ne 0 ] || stages=("${all[@]}")
for stage in "${stages[@]}"; do
  [[ " ${all[*]} " == *" $stage "* ]] || { echo "test.sh: no stage '$stage' (stages: ${all[*]})" >&2; exit 2; }
done

# What the chosen stages need from Debian, from tests/packages.txt, the one list.
echo "== packages"
tools/packages.sh "${stages[@]}"

release() {
  if command -v clang-format >/dev/null 2>&1; then
    clang-format --dry-run --Werror src/*.cpp src/*.h tests/*.cpp tests/*.h bench/*.cpp fuzz/*.cpp \
      fuzz/*.h tools/*.cpp web/*.cpp
  fi
  suite build
}

# Configures, builds and runs the unit and end-to-end tests of one build tree.
suite() {
  local tree=$1
  shift
  cmake -S . -B "$tree" "$@"
  cmake --build "$tree" -j"$jobs"
  ctest --test-dir "$tree" --output-on-failure --no-tests=error -j"$jobs"
}

page() {
  # The page's tests hold it to the command line, built as the first command builds it.
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build -j"$jobs" --target orvane
  emcmake cmake -S . -B build-wasm -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build-wasm -j"$jobs"
  # The npm packages of the lockfile (playwright-core), installed once for each lockfile.
  if ! cmp -s web/package-lock.json web/node_modules/.orvane-lock; then
    (cd web && npm ci --no-audit --no-fund && cp package-lock.json node_modules/.orvane-lock)
  fi
  (cd web && npm test)
}

scalar() {
  suite build-scalar -DCMAKE_BUILD_TYPE=Release -DORVANE_SCALAR_KERNELS=ON
}

sanitizers() {
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    suite build-sanitize -DCMAKE_BUILD_TYPE=Debug -DORVANE_SANITIZE=ON
}

fuzzing() {
  fuzz/run.sh "${FUZZ_SECONDS:-40}"
}

package() {
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build -j"$jobs"
  rm -rf build/package
  (cd build && cpack -G DEB -B package)
  local debs=(build/package/orvane_*.deb)
  [ "${#debs[@]}" -eq 1 ] && [ -f "${debs[0]}" ]
  # Debian's own checker: no error and no warning.
  lintian --fail-on error,warning "${debs[0]}"
  echo "${debs[0]}: lintian clean"
}

bench() {
  RUNS=2 bench/run.sh 0.002 2>/dev/null
}

times=()
for stage in "${stages[@]}"; do
  echo "== $stage"
  started=$SECONDS
  "$stage"
  times+=("$(printf '%-11s %5d s' "$stage" $((SECONDS - started)))")
  echo "== $stage: $((SECONDS - started)) s"
done
echo "== all passed"
printf '%s\n' "${times[@]}"
