#!/usr/bin/env bash
# scripts/test with a stand-in for cmake on PATH: interrupted by Ctrl+C (the
# terminal's whole group) or by SIGTERM (the script alone) while a preset
# runs, and with presets that run no test. Each must end FAILED with a
# non-zero code; an interrupt must end the running step and stop the
# wineserver that step started.
# Usage: interrupt_test.sh SOURCE_DIR
set -uo pipefail
source_dir=$1
. "$source_dir/scripts/lib.sh"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/qix-interrupt-test.XXXXXX")
trap 'WINEPREFIX=$scratch/prefix stop_wineserver; rm -rf "$scratch"' EXIT
mkdir "$scratch/bin" "$scratch/prefix"

failures=0
check() { # description, then a condition for eval
  if eval "$2"; then echo "ok: $1"; else echo "FAIL: $1"; failures=$((failures + 1)); return 1; fi
}

# The wineserver of the stand-in's prefix, if one runs.
server() {
  local pid
  for pid in $(pgrep -x wineserver64); do
    tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qx "WINEPREFIX=$scratch/prefix" &&
      echo "$pid"
  done
}

# run SIGNAL: scripts/test in a session of its own, as a terminal runs it;
# with a signal, the stand-in starts a wineserver as the Windows tests do and
# waits, and the signal comes once it does. Sets code and output.
run() {
  if [ -n "$1" ]; then
    printf '#!/bin/sh\nWINEPREFIX=%q %q -p >/dev/null 2>&1\necho $$ >%q\nexec sleep 60\n' \
      "$scratch/prefix" "$WINESERVER" "$scratch/cmake.pid" >"$scratch/bin/cmake"
  else
    printf '#!/bin/sh\nexit 0\n' >"$scratch/bin/cmake"
  fi
  chmod +x "$scratch/bin/cmake"
  rm -f "$scratch/cmake.pid"
  # Started in the background, the script would ignore SIGINT, as a terminal's
  # script does not.
  PATH=$scratch/bin:$PATH setsid env --default-signal=INT \
    "$source_dir/scripts/test" >"$scratch/out" 2>&1 &
  local script=$!
  if [ -n "$1" ]; then
    for _ in $(seq 300); do [ -s "$scratch/cmake.pid" ] && break || sleep 0.1; done
    check "the stand-in runs a preset ($1)" '[ -s "$scratch/cmake.pid" ]'
    check "it started a wineserver ($1)" '[ -n "$(server)" ]'
    if [ "$1" = INT ]; then kill -INT -- "-$script"; else kill -TERM "$script"; fi
    for _ in $(seq 200); do kill -0 "$script" 2>/dev/null && sleep 0.1 || break; done
    check "$1: the script ended within 20 s" '! kill -0 "$script" 2>/dev/null' ||
      kill -KILL -- "-$script" "$(cat "$scratch/cmake.pid")"
  fi
  code=0
  wait "$script" || code=$?
  output=$(cat "$scratch/out")
}

for signal in INT TERM; do
  run $signal
  expected=$((128 + $(kill -l "$signal")))
  check "$signal: exit code $expected" '[ "$code" = "$expected" ]'
  check "$signal: FAILED, naming the step" \
    '[ "$(tail -n 1 <<<"$output")" = "scripts/test: FAILED: interrupted during preset native: configure, build, test" ]'
  check "$signal: the step has ended" '! kill -0 "$(cat "$scratch/cmake.pid")" 2>/dev/null'
  check "$signal: its wineserver has stopped" '[ -z "$(server)" ]'
done

run ""
check "no test run: a non-zero exit code" '[ "$code" != 0 ]'
check "no test run: FAILED, naming each preset" \
  'tail -n 1 <<<"$output" | grep -q "native: no tests run; native-asan: no tests run; fuzz: no tests run — FAILED"'

[ $failures -eq 0 ] || { echo "--- the last output:"; echo "$output"; exit 1; }
