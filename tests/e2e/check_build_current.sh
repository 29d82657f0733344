#!/usr/bin/env bash
# Fails, naming what changed, when programs in a Ninja build folder are older
# than anything they are built from, so that no test passes on a stale
# program. Ninja's own dry run decides: it follows every source, header,
# resource and CMakeLists.txt as the build does, so a program that a
# CMakeLists.txt change left as it was still counts as current.
# Usage: check_build_current.sh BUILD_DIR TARGET...
set -uo pipefail
dir=$1
shift
rebuild="rebuild it with: cmake --build --preset windows (or build and test both programs with: cmake --workflow --preset all)"

if [ ! -f "$dir/build.ninja" ]; then
  echo "STALE: there is no build in $dir; $rebuild" >&2
  exit 1
fi
if ! plan=$(ninja -C "$dir" -n -d explain "$@" 2>&1); then
  printf '%s\n' "$plan" >&2
  echo "STALE: Ninja cannot bring $dir up to date; $rebuild" >&2
  exit 1
fi
# A dry run that would run any command, [1/5] and the like, means stale.
if grep -q '^\[' <<<"$plan"; then
  # Name the files outside the build folder that are newer than what was built from them.
  echo "STALE: the programs in $dir are older than their sources; $rebuild" >&2
  sed -n 's/^ninja explain: output .* older than most recent input \(.*\) ([0-9]* vs [0-9]*)$/\1/p' \
    <<<"$plan" | grep '^/' | grep -vF "$dir/" | sort -u | sed 's/^/  changed since the last build: /' >&2
  for target in "$@"; do
    [ -e "$dir/$target" ] || echo "  not built yet: $target" >&2
  done
  exit 1
fi
echo "$dir is up to date: $*"
