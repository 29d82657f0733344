#!/usr/bin/env bash
# The stale-program check on a small scratch project: it fails, naming the
# changed file, exactly when the build is behind its sources, and passes on a
# build newer than a fresh checkout and after a CMakeLists.txt change that
# left the program as it was.
# Usage: check_build_current_test.sh CHECK_SCRIPT
set -euo pipefail
check=$1
scratch=$(mktemp -d "${TMPDIR:-/tmp}/qix-stale.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
src=$scratch/src
build=$scratch/build
mkdir "$src"
cat >"$src/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.21)
project(Stale CXX)
add_executable(prog main.cpp)
CMAKE
printf '#include "message.h"\nint main() { return kCode; }\n' >"$src/main.cpp"
printf 'const int kCode = 0;\n' >"$src/message.h"
# As after a fresh clone: every source an hour older than the build.
touch -d '-1 hour' "$src"/*

failures=0
# expect WHAT EXIT_CODE TEXT: runs the check and compares its exit code and output.
expect() {
  local code=0 output
  output=$("$check" "$build" prog 2>&1) || code=$?
  if [ "$code" != "$2" ] || ! grep -qF -- "$3" <<<"$output"; then
    echo "FAIL: $1: exit $code, expected $2 and a line with \"$3\"; output:"
    printf '%s\n' "$output"
    failures=$((failures + 1))
  else
    echo "ok: $1"
  fi
}
build() { cmake --build "$build" >/dev/null; }

expect "no build folder" 1 "there is no build in $build"
cmake -S "$src" -B "$build" -G Ninja >/dev/null
expect "configured, not built" 1 "not built yet: prog"
build
expect "built after the checkout" 0 "is up to date"
touch "$src/main.cpp"
expect "source changed" 1 "changed since the last build: $src/main.cpp"
build
expect "rebuilt" 0 "is up to date"
touch "$src/message.h"
expect "header changed" 1 "changed since the last build: $src/message.h"
build
touch "$src/CMakeLists.txt"
expect "CMakeLists.txt changed" 1 "changed since the last build: $src/CMakeLists.txt"
build
if [ "$build/prog" -nt "$src/CMakeLists.txt" ]; then
  echo "FAIL: the reconfigure relinked the program, so the next case proves nothing"
  failures=$((failures + 1))
fi
expect "reconfigured, program unchanged and older than CMakeLists.txt" 0 "is up to date"
rm "$build/prog"
expect "program removed" 1 "not built yet: prog"
[ $failures -eq 0 ]
