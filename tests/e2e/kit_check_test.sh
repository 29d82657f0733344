#!/usr/bin/env bash
# The setup kit's checker on the broken installer, once per mistake, with only
# the group of cases that can see it (and a short time limit for the one that
# hangs): fails unless that case gets its verdict (and the checker its exit
# code). Sound rows too: one installs its German readme under its German
# name, one runs without WINEPREFIX, so that the checker makes a prefix of its
# own. Then once with the product installed in the prefix beforehand, which
# the checker must refuse to judge.
# Usage: kit_check_test.sh CHECKER PROGRAM BROKEN_SETUP
set -uo pipefail
check=$1
program=$2
setup=$3

missed=0
while IFS='|' read -r mistake options status verdict; do
  # shellcheck disable=SC2086 # the row's options, one word each
  if [ "$mistake" = speaks ]; then
    output=$(env -u WINEPREFIX QIX_BROKEN=$mistake "$check" $options "$program" "$setup")
  else
    output=$(QIX_BROKEN=$mistake "$check" $options "$program" "$setup")
  fi
  code=$?
  if [ $code -eq "$status" ] && grep -qF "$verdict" <<<"$output"; then
    echo "found $mistake: $(grep -F "$verdict" <<<"$output" | head -n 1)"
  else
    echo "MISSED $mistake (exit $code): expected exit $status and $verdict" >&2
    printf '%s\n' "$output" >&2
    missed=1
  fi
done <<'MISTAKES'
cut|-c long|1|FAIL  long directory of 520 characters: 
ini|-c long|1|FAIL  long directory of 300 characters: did not install 
exitcode|-c forms|1|FAIL  forms /L=e /DS=1: 
quit|-c again|1|FAIL  again: a second one /L=e: 
english|-c again|1|FAIL  again: language of the refusal: 
unchecked|-c unusable|1|FAIL  unusable: broken.txt in the way /L=e: 
abort|-c unusable|1|FAIL  unusable: broken.txt in the way /L=e: the log says that it failed, not why
nomessage|-c person|1|FAIL  person: 
outside|-c late|1|FAIL  reference: did not install C:\
subfolder|-c late|1|FAIL  reference: ended with -1, reporting: Broken: installed into
sectionoff|-c late|1|FAIL  reference: did not install C:\
shortcut|-c late|1|FAIL  reference: made a desktop shortcut under /DS=0
language|-c forms|1|FAIL  forms /L=g (no /DS): installed 
elsewhere|-c again|1|FAIL  again: another directory /L=g: did not install 
late|-c late|1|FAIL  late: a log or marker appeared after its run had ended
thirteenth|-c unusable|1|FAIL  unusable: more13.txt in the way
nested|-c unusable|1|\doc\nested.txt, which its declaration does not name
utf16|-c again|1|FAIL  again: a second one /L=e: its log holds zero bytes
truncated|-c late|1|broken.txt with 1 bytes, not the 
messagebox|-c late|1|FAIL  reference: showed a window during a silent run: "Broken Setup"
entryfirst|-c unusable|1|failed, yet left HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Broken registered
keeppayload|-c late|1|FAIL  uninstall after reference: left C:\
parent|-c late|1|neighbour.txt, which was there before
unquoted|-c directories|1|UninstallString holds a blank outside quotes
uninstallfolder|-c late|1|FAIL  uninstall after reference: cannot start 
hang|-c late -t 5|1|FAIL  reference: did not end within 5.0 s; every process of it was ended
reboot|-c again|0|RESTART  reference: asks for a restart
sound|-c forms|0|PASS  forms /L=g (no /DS): ended with 0
speaks|-c again|0|PASS  reference: ended with 0 in
MISTAKES

# Installed beforehand (the broken installer refuses then): no verdict, exit 2.
. "$(dirname "$0")/../../scripts/lib.sh"
# A set-up or clean-up step that fails fails the test here, by name. A run
# that ended 1, which neither the installer nor its uninstaller returns when
# silent, is one Wine failed to start: it is repeated once.
wine_step() {
  local name=$1 code
  shift
  "$WINE" "$@" </dev/null >/dev/null 2>&1
  code=$?
  if [ $code -eq 1 ]; then
    "$WINE" "$@" </dev/null >/dev/null 2>&1
    code=$?
  fi
  [ $code -eq 0 ] || { echo "FAILED to $name (exit $code)" >&2; missed=1; }
  return $code
}
# Gone only when reg says so: a reg that failed to start says nothing.
key_gone() {
  local said
  said=$("$WINE" reg query "$1" </dev/null 2>&1)
  [ $? -eq 1 ] && grep -q "Unable to find" <<<"$said"
}
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Broken'
if wine_step "install Broken beforehand" "$setup" /S "/D=C:\\qix-check-installed"; then
  output=$("$check" -c again "$program" "$setup")
  code=$?
  if [ $code -eq 2 ] && grep -q "^qix-check: cannot check .*: Broken;" <<<"$output"; then
    echo "refused to judge: $(tail -n 1 <<<"$output")"
  else
    echo "MISSED the product installed beforehand (exit $code)" >&2
    printf '%s\n' "$output" >&2
    missed=1
  fi
  # The uninstaller runs on from a copy of itself after it returns.
  wine_step "start Broken's uninstaller" 'C:\qix-check-installed\Uninstall.exe' /S
  for _ in $(seq 100); do
    key_gone "$key" && break
    sleep 0.2
  done
fi
# The mistakes' prefix stays usable for the next run whatever happened.
if ! key_gone "$key"; then
  echo "FAILED: Broken's uninstaller left $key" >&2
  "$WINE" reg delete "$key" /f </dev/null >/dev/null 2>&1
  key_gone "$key" || echo "FAILED to delete $key" >&2
  missed=1
fi
rm -rf "$WINEPREFIX/drive_c/qix-check-installed" || { echo "FAILED to remove C:\qix-check-installed" >&2; missed=1; }
exit $missed
