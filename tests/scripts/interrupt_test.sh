#!/usr/bin/env bash
# The scripts with long steps, with a stand-in for cmake on PATH: interrupted
# by Ctrl+C (the terminal's whole group) or by SIGTERM (the script alone)
# while a step runs, and scripts/test with presets that run no test. Each must
# end FAILED with a non-zero code; an interrupt must end the running step, and
# scripts/test must stop the wineserver that step started.
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

# run SCRIPT SIGNAL [wine]: the script in a session of its own, as a terminal
# runs it. With a signal, the stand-in waits (after starting a wineserver, as
# the Windows tests do, when asked), and the signal comes once it does; but
# scripts/test's head start on the other presets' builds, and every call
# without a signal, end at once and say nothing. Sets code and output.
run() {
  local start=""
  [ "${3:-}" != wine ] || start="WINEPREFIX=$(printf %q "$scratch/prefix") $WINESERVER -p >/dev/null 2>&1"
  if [ -n "$2" ]; then
    printf '#!/bin/sh\ncase "$*" in --workflow* | *windows*) ;; *) exit 0 ;; esac\n%s\necho $$ >%q\nexec sleep 60\n' \
      "$start" "$scratch/cmake.pid" \
      >"$scratch/bin/cmake"
  else
    printf '#!/bin/sh\nexit 0\n' >"$scratch/bin/cmake"
  fi
  chmod +x "$scratch/bin/cmake"
  rm -f "$scratch/cmake.pid"
  # Started in the background, the script would ignore SIGINT, as a terminal's
  # script does not.
  PATH=$scratch/bin:$PATH setsid env --default-signal=INT \
    "$source_dir/scripts/$1" >"$scratch/out" 2>&1 &
  local script=$!
  if [ -n "$2" ]; then
    for _ in $(seq 300); do [ -s "$scratch/cmake.pid" ] && break || sleep 0.1; done
    check "$1, $2: the stand-in runs" '[ -s "$scratch/cmake.pid" ]'
    [ "${3:-}" != wine ] || check "$1, $2: it started a wineserver" '[ -n "$(server)" ]'
    if [ "$2" = INT ]; then kill -INT -- "-$script"; else kill -TERM "$script"; fi
    for _ in $(seq 200); do kill -0 "$script" 2>/dev/null && sleep 0.1 || break; done
    check "$1, $2: the script ended within 20 s" '! kill -0 "$script" 2>/dev/null' ||
      kill -KILL -- "-$script" "$(cat "$scratch/cmake.pid")"
  fi
  code=0
  wait "$script" || code=$?
  output=$(cat "$scratch/out")
  last=$(tail -n 1 <<<"$output")
}

# script, signal, the step it names
while IFS=, read -r script signal running; do
  before=$failures
  run "$script" "$signal" "$([ "$script" = test ] && echo wine)"
  expected=$((128 + $(kill -l "$signal")))
  check "$script, $signal: exit code $expected" '[ "$code" = "$expected" ]'
  check "$script, $signal: FAILED, naming the step" \
    '[ "$last" = "${script/#test/scripts/test}: FAILED: interrupted during $running" ]'
  check "$script, $signal: the step has ended" '! kill -0 "$(cat "$scratch/cmake.pid")" 2>/dev/null'
  [ "$script" != test ] || check "$script, $signal: its wineserver has stopped" '[ -z "$(server)" ]'
  [ $failures -eq "$before" ] || echo "--- what it printed:"$'\n'"$output"
done <<'ROWS'
test,INT,preset native: configure, build, test
test,TERM,preset native: configure, build, test
release,TERM,building the program
ROWS

run test ""
check "no test run: a non-zero exit code" '[ "$code" != 0 ]' &&
  check "no test run: FAILED, naming each preset" \
    'grep -q "native: no tests run; native-asan: no tests run; fuzz: no tests run — FAILED" <<<"$last"' ||
  echo "--- what it printed:"$'\n'"$output"

[ $failures -eq 0 ]
