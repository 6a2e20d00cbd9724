#!/usr/bin/env bash
# Builds orvane and runs the whole test suite: the release build's unit and end-to-end tests,
# the same suite with the scalar kernels and under AddressSanitizer, LeakSanitizer and
# UndefinedBehaviorSanitizer, and the fuzz targets where clang is installed.
set -euo pipefail
cd "$(dirname "$0")"
jobs=${JOBS:-2}

echo "== source format"
if command -v clang-format >/dev/null 2>&1; then
  clang-format --dry-run --Werror src/*.cpp src/*.h tests/*.cpp tests/*.h bench/*.cpp fuzz/*.cpp fuzz/*.h tools/*.cpp
fi

echo "== release build and tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== scalar kernels build and tests"
cmake -S . -B build-scalar -DCMAKE_BUILD_TYPE=Release -DORVANE_SCALAR_KERNELS=ON
cmake --build build-scalar -j"$jobs"
ctest --test-dir build-scalar --output-on-failure -j"$jobs"

echo "== sanitizer build and tests"
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DORVANE_SANITIZE=ON
cmake --build build-sanitize -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-sanitize --output-on-failure -j"$jobs"

echo "== fuzzing"
if command -v clang++ >/dev/null 2>&1; then
  fuzz/run.sh "${FUZZ_SECONDS:-40}"
else
  echo "clang++ is not installed: fuzzing skipped"
fi
