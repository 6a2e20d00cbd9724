#!/usr/bin/env bash
# Builds expat for WebAssembly from Debian's source package, so that the page reads range exports
# with the same XML library and the same checks as the command line: the source of the very
# version of the installed libexpat1-dev where the archive serves it, or else the pinned version
# of tools/expat-source.txt, whose files are checked against the SHA-256 sums there (the build
# says which it took, and why). Debian's patches are applied as the package builds them. The
# source comes through a private apt configuration made of the system's own Debian sources as
# source lines: no file of the system changes. The library is kept in a cache outside any build
# tree, so it is fetched once: a machine that has it builds the page offline.
#
#   tools/expat_for_wasm.sh          builds it where the cache lacks it; prints the directory:
#                                    DIR/include/expat.h, DIR/include/expat_external.h,
#                                    DIR/lib/libexpat.a, DIR/version
#
# The cache is $ORVANE_CACHE, or else $XDG_CACHE_HOME/orvane, or else ~/.cache/orvane: one
# directory a version built, and for each installed version a file naming the one built for it.
# Needs libexpat1-dev, and to build: emcc (Debian's emscripten), apt-get and dpkg-source.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
installed=$(dpkg-query -W -f='${Version}' libexpat1-dev 2>/dev/null || true)
if [ -z "$installed" ]; then
  echo "expat_for_wasm: libexpat1-dev is not installed: the page is built from its version" >&2
  exit 1
fi
cache=${ORVANE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/orvane}
chosen=$cache/expat-for-$installed
if [ -f "$chosen" ] && [ -f "$(cat "$chosen")/lib/libexpat.a" ]; then
  cat "$chosen"
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

mkdir -p "$work/apt/parts" "$work/apt/lists/partial" "$work/apt/cache/archives/partial" "$work/src"
shopt -s nullglob
for sources in /etc/apt/sources.list.d/*.sources; do
  sed 's/^Types:.*$/Types: deb-src/' "$sources" >"$work/apt/parts/$(basename "$sources")"
done
for list in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
  [ -f "$list" ] && sed -n 's/^deb /deb-src /p' "$list"
done >"$work/apt/parts/lines.list"
apt=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$work/apt/parts"
     -o "Dir::State::Lists=$work/apt/lists" -o "Dir::Cache=$work/apt/cache" -o Debug::NoLocking=1
     -o APT::Sandbox::User=root)
apt-get "${apt[@]}" update -qq >&2
cd "$work/src"
mapfile -t pin < <(sed -e '/^#/d' -e '/^$/d' "$source_dir/tools/expat-source.txt")
version=$installed
if ! apt-get "${apt[@]}" source -qq --download-only "expat=$version" >"$work/fetch.log" 2>&1; then
  version=${pin[0]}
  echo "expat_for_wasm: the archive does not serve the source of expat $installed, the installed" >&2
  echo "  libexpat1-dev's; the page is built from the pinned source $version instead:" >&2
  sed 's/^/  /' "$work/fetch.log" >&2
  rm -f ./*
  if ! apt-get "${apt[@]}" source -qq --download-only "expat=$version" >"$work/fetch.log" 2>&1; then
    echo "expat_for_wasm: neither the source of expat $installed (the installed libexpat1-dev's)" >&2
    echo "  nor the pinned $version (tools/expat-source.txt) could be fetched from the system's" >&2
    echo "  Debian sources; build where the archive can be reached, once: the cache keeps it." >&2
    sed 's/^/  /' "$work/fetch.log" >&2
    exit 1
  fi
  if ! printf '%s\n' "${pin[@]:1}" | sha256sum --quiet -c - >&2; then
    echo "expat_for_wasm: the fetched source of expat $version is not the one that" >&2
    echo "  tools/expat-source.txt pins (the SHA-256 sums above differ); nothing was built" >&2
    exit 1
  fi
fi
dpkg-source -x ./*.dsc >/dev/null 2>"$work/unpack.log" ||
  { cat "$work/unpack.log" >&2; exit 1; }
out=$cache/expat-$version-wasm
echo "expat_for_wasm: building expat $version for WebAssembly into $out" >&2
lib=$(echo "$work"/src/expat-*/expat/lib)

# What the package's configure finds on Linux, for Emscripten's C library; the entropy of the
# hash salt comes from getentropy(), which the browser's crypto serves.
cat >"$lib/expat_config.h" <<'EOF'
#define BYTEORDER 1234
#define HAVE_ARC4RANDOM_BUF 1
#define HAVE_FCNTL_H 1
#define HAVE_INTTYPES_H 1
#define HAVE_STDINT_H 1
#define HAVE_STDLIB_H 1
#define HAVE_STRING_H 1
#define HAVE_UNISTD_H 1
#define XML_CONTEXT_BYTES 1024
#define XML_DTD 1
#define XML_NS 1
#include <stddef.h>
void arc4random_buf(void *buffer, size_t size);
EOF
cat >"$lib/entropy.c" <<'EOF'
#include <stddef.h>
#include <stdlib.h>
#include <unistd.h>
/* getentropy() gives at most 256 bytes a call. */
void arc4random_buf(void *buffer, size_t size) {
  unsigned char *at = buffer;
  while (size > 0) {
    size_t part = size < 256 ? size : 256;
    if (getentropy(at, part) != 0)
      abort();
    at += part;
    size -= part;
  }
}
EOF
objects=()
for source in xmlparse xmlrole xmltok entropy; do
  emcc -O2 -DHAVE_EXPAT_CONFIG_H -I"$lib" -c "$lib/$source.c" -o "$work/$source.o" >&2
  objects+=("$work/$source.o")
done
# Made beside the cache's directory and moved there whole, so that a build cut short leaves none.
mkdir -p "$work/out/lib" "$work/out/include" "$cache"
emar rcs "$work/out/lib/libexpat.a" "${objects[@]}"
cp "$lib/expat.h" "$lib/expat_external.h" "$work/out/include/"
echo "$version" >"$work/out/version"
rm -rf "$out"
mv "$work/out" "$out"
echo "$out" >"$chosen"
echo "expat_for_wasm: expat $version for WebAssembly: $out/lib/libexpat.a" >&2
echo "$out"
