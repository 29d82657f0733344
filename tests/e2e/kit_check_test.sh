#!/usr/bin/env bash
# The setup kit's checker, run as CI runs it.
# Usage: kit_check_test.sh SOURCE_DIR WINEPREFIX PROGRAM SETUP
#   runs the checker on SETUP, which must pass;
#        kit_check_test.sh SOURCE_DIR WINEPREFIX PROGRAM BROKEN_SETUP faults
#   runs it on the broken installer once per mistake, only the group of cases
#   that can see it, and fails unless that case fails.
set -uo pipefail
export WINEPREFIX=${WINEPREFIX:-$2}
check=$1/setup-kit/qix-check
program=$3
setup=$4

if [ "${5:-}" != faults ]; then
  exec "$check" "$program" "$setup"
fi

missed=0
while IFS='|' read -r mistake group case; do
  output=$(QIX_BROKEN=$mistake "$check" -c "$group" "$program" "$setup")
  status=$?
  if [ $status -eq 1 ] && grep -qF "FAIL  $case: " <<<"$output"; then
    echo "found $mistake: $(grep -F "FAIL  $case: " <<<"$output" | head -n 1)"
  else
    echo "MISSED $mistake (exit $status): expected FAIL  $case" >&2
    printf '%s\n' "$output" >&2
    missed=1
  fi
done <<'MISTAKES'
cut|long|long directory of 520 characters
ini|long|long directory of 300 characters
exitcode|forms|forms /L=e /DS=1
quit|again|again: a second one /L=e
english|again|again: language of the refusal
unchecked|unusable|unusable: broken.txt in the way /L=e
abort|unusable|unusable: broken.txt in the way /L=g
nomessage|person|person
MISTAKES
exit $missed
