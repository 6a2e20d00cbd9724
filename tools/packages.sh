#!/usr/bin/env bash
# Installs the Debian packages that the named stages need, as tests/packages.txt lists them, and
# only those that are missing. Every
# stage builds orvane, so the build's packages come with any stage. It installs as root or
# through sudo -n; where it can do neither, it prints the one apt-get command that would and
# exits with 1 before anything else runs.
#
#   tools/packages.sh STAGE ...      build, release, page, scalar, sanitizers, fuzzing, package, bench
set -euo pipefail
cd "$(dirname "$0")/.."
[ "$#" -gt 0 ] || { echo "usage: tools/packages.sh STAGE ..." >&2; exit 2; }
if ! command -v dpkg-query >/dev/null 2>&1; then
  echo "packages.sh: no dpkg-query: this is not Debian; install what tests/packages.txt lists" >&2
  exit 1
fi

# The list's lines as "package stage stage ...", comments and blank lines left out.
mapfile -t lines < <(sed -e 's/#.*//' -e '/^[[:space:]]*$/d' tests/packages.txt)
known=" build "
for line in "${lines[@]}"; do
  read -r -a words <<<"$line"
  for stage in "${words[@]:1}"; do
    [[ "$known" == *" $stage "* ]] || known+="$stage "
  done
done
for stage in "$@"; do
  [[ "$known" == *" $stage "* ]] || { echo "packages.sh: no stage '$stage' (stages:$known)" >&2; exit 2; }
done

wanted=() # packages the stages need
for line in "${lines[@]}"; do
  read -r -a words <<<"$line"
  for stage in "${words[@]:1}"; do
    for chosen in build "$@"; do
      if [ "$stage" = "$chosen" ]; then
        [[ " ${wanted[*]} " == *" ${words[0]} "* ]] || wanted+=("${words[0]}")
      fi
    done
  done
done

mapfile -t installed < <(dpkg-query -W -f='${db:Status-Status} ${Package}\n' "${wanted[@]}" 2>/dev/null |
  sed -n 's/^installed //p')
missing=()
for package in "${wanted[@]}"; do
  [[ " ${installed[*]} " == *" $package "* ]] || missing+=("$package")
done
# npm comes with some builds of nodejs and is Debian's own package beside Debian's.
if [[ " ${wanted[*]} " == *" nodejs "* ]] && ! command -v npm >/dev/null 2>&1; then
  missing+=(npm)
fi

if [ "${#missing[@]}" -eq 0 ]; then
  echo "packages for $*: all ${#wanted[@]} installed"
  exit 0
fi
as=()
if [ "$(id -u)" -ne 0 ]; then
  if ! sudo -n true 2>/dev/null; then
    echo "packages.sh: the stages $* need Debian packages that are missing; install them with" >&2
    echo "  sudo apt-get install --no-install-recommends ${missing[*]}" >&2
    exit 1
  fi
  as=(sudo -n)
fi
echo "installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as[@]}" apt-get update -qq
"${as[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
