#!/usr/bin/env bash
# Builds expat for WebAssembly from Debian's source package, so that the page reads range exports
# with the same XML library and the same checks as the command line. Debian's patches are applied
# as the package builds them. The source comes through a private apt configuration made of the
# system's own Debian sources as source lines: no file of the system changes. Does nothing when
# OUT already holds the library.
#
#   tools/expat_for_wasm.sh OUT      OUT/include/expat.h, OUT/include/expat_external.h,
#                                    OUT/lib/libexpat.a
#
# Needs emcc (Debian's emscripten), apt-get and dpkg-source (dpkg-dev).
set -euo pipefail
out=$(realpath -m "$1")
[ -f "$out/lib/libexpat.a" ] && exit 0
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
apt-get "${apt[@]}" update -qq
# The newest version whose source can be fetched: a mirror may list a version it does not serve.
cd "$work/src"
fetched=
for version in $(apt-cache "${apt[@]}" showsrc expat 2>/dev/null | sed -n 's/^Version: //p' | sort -rV); do
  if apt-get "${apt[@]}" source -qq "expat=$version" >/dev/null 2>&1; then
    fetched=$version
    break
  fi
  rm -rf ./*
done
[ -n "$fetched" ] || { echo "expat_for_wasm: no source of Debian's expat could be fetched" >&2; exit 1; }
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
  emcc -O2 -DHAVE_EXPAT_CONFIG_H -I"$lib" -c "$lib/$source.c" -o "$work/$source.o"
  objects+=("$work/$source.o")
done
mkdir -p "$out/lib" "$out/include"
emar rcs "$out/lib/libexpat.a" "${objects[@]}"
cp "$lib/expat.h" "$lib/expat_external.h" "$out/include/"
echo "expat $fetched for WebAssembly: $out/lib/libexpat.a"
