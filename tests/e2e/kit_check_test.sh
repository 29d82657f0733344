#!/usr/bin/env bash
# The setup kit's checker on the broken installer, once per mistake, with only
# the group of cases that can see it: fails unless that case fails.
# Usage: kit_check_test.sh CHECKER PROGRAM BROKEN_SETUP
set -uo pipefail
check=$1
program=$2
setup=$3

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
