#!/usr/bin/env bash
# Installs what the tests need, builds orvane and runs the whole test suite: the release build's
# unit and end-to-end tests, the page's WebAssembly module and its tests in a real browser, the
# same suite with the scalar kernels and under AddressSanitizer, LeakSanitizer and
# UndefinedBehaviorSanitizer, and the fuzz targets.
set -euo pipefail
cd "$(dirname "$0")"
jobs=${JOBS:-2}

# What the suite needs from Debian is in tests/packages.txt, the one list. Those missing are
# installed where that can be done without asking (as root, or through sudo -n); elsewhere the
# command that would install them is printed and nothing runs.
echo "== packages"
mapfile -t packages < <(sed -e 's/#.*//' -e 's/[[:space:]]//g' -e '/^$/d' tests/packages.txt)
if ! command -v dpkg-query >/dev/null 2>&1; then
  echo "test.sh: no dpkg-query: this is not Debian; install what tests/packages.txt lists" >&2
  exit 1
fi
mapfile -t installed < <(dpkg-query -W -f='${db:Status-Status} ${Package}\n' "${packages[@]}" 2>/dev/null |
  sed -n 's/^installed //p')
missing=()
for package in "${packages[@]}"; do
  [[ " ${installed[*]} " == *" $package "* ]] || missing+=("$package")
done
# npm comes with some builds of nodejs and is Debian's own package beside Debian's.
command -v npm >/dev/null 2>&1 || missing+=(npm)
if [ "${#missing[@]}" -eq 0 ]; then
  echo "all ${#packages[@]} installed"
else
  as=()
  if [ "$(id -u)" -ne 0 ]; then
    if sudo -n true 2>/dev/null; then
      as=(sudo -n)
    else
      echo "test.sh: the tests need Debian packages that are missing; install them with" >&2
      echo "  sudo apt-get install --no-install-recommends ${missing[*]}" >&2
      exit 1
    fi
  fi
  echo "installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${as[@]}" apt-get update -qq
  "${as[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

echo "== source format"
if command -v clang-format >/dev/null 2>&1; then
  clang-format --dry-run --Werror src/*.cpp src/*.h tests/*.cpp tests/*.h bench/*.cpp fuzz/*.cpp fuzz/*.h tools/*.cpp \
    web/*.cpp
fi

echo "== release build and tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure --no-tests=error -j"$jobs"

echo "== the page: the WebAssembly module and the browser tests"
emcmake cmake -S . -B build-wasm -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-wasm -j"$jobs"
# The npm packages of the lockfile (playwright-core), installed once for each lockfile.
if ! cmp -s web/package-lock.json web/node_modules/.orvane-lock; then
  (cd web && npm ci --no-audit --no-fund && cp package-lock.json node_modules/.orvane-lock)
fi
ORVANE="$PWD/build/orvane" ORVANE_WEB="$PWD/build-wasm/web" node --test web/tests/

echo "== scalar kernels build and tests"
cmake -S . -B build-scalar -DCMAKE_BUILD_TYPE=Release -DORVANE_SCALAR_KERNELS=ON
cmake --build build-scalar -j"$jobs"
ctest --test-dir build-scalar --output-on-failure --no-tests=error -j"$jobs"

echo "== sanitizer build and tests"
cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DORVANE_SANITIZE=ON
cmake --build build-sanitize -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-sanitize --output-on-failure --no-tests=error -j"$jobs"

echo "== fuzzing"
if command -v clang++ >/dev/null 2>&1; then
  fuzz/run.sh "${FUZZ_SECONDS:-40}"
else
  echo "clang++ is not installed: fuzzing skipped"
fi
