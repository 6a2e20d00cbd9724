#!/usr/bin/env bash
# Builds expat for WebAssembly from Debian's source package of the very version of the installed
# libexpat1-dev, so that the page reads range exports with the same XML library, the same
# version and the same checks as the command line. Debian's patches are applied as the package
# builds them; apt checks the source against the archive's signed lists. The source comes through
# a private apt configuration made of the system's own Debian sources as source lines: no file of
# the system changes. The library is kept in a cache outside any build tree, one directory a
# version, so it is fetched once: a machine that has it builds the page offline.
#
#   tools/expat_for_wasm.sh          builds it where the cache lacks it; prints the directory:
#                                    DIR/include/expat.h, DIR/include/expat_external.h,
#                                    DIR/lib/libexpat.a
#
# The cache is $ORVANE_CACHE, or else $XDG_CACHE_HOME/orvane, or else ~/.cache/orvane. Needs
# libexpat1-dev, and to build: emcc (Debian's emscripten), apt-get and dpkg-source (dpkg-dev).
set -euo pipefail
version=$(dpkg-query -W -f='${Version}' libexpat1-dev 2>/dev/null || true)
if [ -z "$version" ]; then
  echo "expat_for_wasm: libexpat1-dev is not installed: its version is the one the page builds" >&2
  exit 1
fi
cache=${ORVANE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/orvane}
out=$cache/expat-$version-wasm
if [ -f "$out/lib/libexpat.a" ]; then
  echo "$out"
  exit 0
fi
echo "expat_for_wasm: building expat $version for WebAssembly into $out" >&2
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
if ! apt-get "${apt[@]}" source -qq "expat=$version" >"$work/fetch.log" 2>&1; then
  echo "expat_for_wasm: the source of Debian's expat $version, the installed libexpat1-dev's," >&2
  echo "  could not be fetched from the system's Debian sources:" >&2
  sed 's/^/  /' "$work/fetch.log" >&2
  echo "  An archive serves the source of its newest version only: bring libexpat1-dev up to" >&2
  echo "  it (tools/packages.sh page does), or build where the archive can be reached." >&2
  exit 1
fi
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
rm -rf "$out"
mv "$work/out" "$out"
echo "expat_for_wasm: expat $version for WebAssembly: $out/lib/libexpat.a" >&2
echo "$out"
