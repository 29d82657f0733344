#!/usr/bin/env bash
# Two builds of the same source give the same Windows program, byte for byte:
# the source is copied into two scratch folders of different names and the
# program built in each; neither program holds a folder of the machine.
# Usage: reproducible_test.sh SOURCE_DIR
set -euo pipefail
source_dir=$1
scratch=$(mktemp -d "${TMPDIR:-/tmp}/qix-repro.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

for copy in one second-copy; do
  mkdir -p "$scratch/$copy/source"
  # The working tree as it is, without build output and version control.
  tar -C "$source_dir" --exclude=./build --exclude=./dist --exclude=./.git -cf - . |
    tar -C "$scratch/$copy/source" -xf -
  cmake -S "$scratch/$copy/source" -B "$scratch/$copy/build" --preset windows >/dev/null
  cmake --build "$scratch/$copy/build" --target Qix_Console_Installer >/dev/null
done

a=$scratch/one/build/Qix_Console_Installer.exe
b=$scratch/second-copy/build/Qix_Console_Installer.exe
status=0
if cmp "$a" "$b"; then
  echo "ok: both builds give $(sha256sum "$a" | cut -d ' ' -f 1)"
else
  echo "FAIL: the two builds differ (offset, octal bytes):"
  cmp -l "$a" "$b" | head -n 20
  status=1
fi
paths=$(strings -a "$a" | grep -F -e "$scratch" -e "$source_dir" -e "$QIX_CACHE" -e /tmp/ || true)
if [ -n "$paths" ]; then
  echo "FAIL: the program holds folders of the build machine:"
  printf '%s\n' "$paths" | head -n 20
  status=1
else
  echo "ok: no folder of the build machine in the program"
fi
exit $status
