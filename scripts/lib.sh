# Shared settings of the project's scripts; sourced, not run.
qix_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QIX_CACHE=${QIX_CACHE:-$(cat "$qix_root/cmake/cache-folder")}
export WINEPREFIX=${WINEPREFIX:-$QIX_CACHE/wineprefix}
# The setup kit's checks judge everything that appears in their prefix: they
# get one of their own, beside the tests' (CMakeLists.txt names it alike), so
# that they run while the other tests install and register in theirs.
export QIX_KIT_WINEPREFIX=${QIX_KIT_WINEPREFIX:-$WINEPREFIX-kit}
# The checker's test on the broken installer gets a third, so that it runs
# beside the checks of the sound ones instead of after them.
export QIX_MISTAKES_WINEPREFIX=${QIX_MISTAKES_WINEPREFIX:-$WINEPREFIX-mistakes}
export WINEDEBUG=-all
# No Mono or Gecko, and no Linux menu entries for the shortcuts installers make.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEARCH=win64
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64

# build_folder PRESET: the preset's build folder, as CMakePresets.json names
# it (jq comes with bootstrap).
build_folder() {
  jq -r --arg name "$1" '.configurePresets[] | select(.name == $name).binaryDir' \
    "$qix_root/CMakePresets.json" | sed "s|\${sourceDir}|$qix_root|"
}

# A script's start and steps. `begin NAME [NOTE]` works from the project's
# root; makes Ctrl+C, SIGINT or SIGTERM end the script with
# "NAME: FAILED: interrupted during STEP" and 128 + the signal's number, the
# script's EXIT trap still running; and checks the tools as the first step
# (scripts/bootstrap, NOTE added to the step's name). `step STEP` says which
# step runs. `in_session COMMAND...` runs a long one in a session of its own,
# which the interrupt ends with all it started: bash holds a trap back until a
# foreground command ends, so a signal sent to the script alone would
# otherwise wait for the whole step. A step whose output goes elsewhere
# redirects inside COMMAND, not in_session: the trap writes where in_session's
# output goes.
begin() {
  cd "$qix_root"
  qix_name=$1
  trap 'interrupted 2' INT
  trap 'interrupted 15' TERM
  step "checking the tools (scripts/bootstrap${2:+: $2})"
  in_session scripts/bootstrap
}

step() {
  qix_step=$1
  echo "$qix_name: $qix_step"
}

in_session() {
  setsid "$@" </dev/null &
  qix_session=$!
  local status=0
  wait "$qix_session" || status=$?
  qix_session=
  return $status
}

interrupted() {
  trap - INT TERM
  if [ -n "${qix_session:-}" ]; then
    kill -TERM -- "-$qix_session" 2>/dev/null
    wait "$qix_session" || true
  fi
  echo "$qix_name: FAILED: interrupted during ${qix_step:-the start}"
  exit $((128 + $1))
}

# One persistent wineserver for the whole run: each program start then takes
# a fraction of a second instead of seconds. Wine's background services start
# here with their streams on /dev/null, so that no test's pipe is held open.
# Windows without a display: the null driver. A new prefix has no such
# setting, and the desktop that wineboot started keeps the driver it began
# with: with the setting in place, Wine starts again. The desktop process is
# started here, kept alive by a window that stays open until the server stops;
# otherwise an installer starts it on first use, and it keeps that run's
# standard error, such as a script's log file, open. Fails when Wine does not
# answer.
start_wineserver() {
  local attempt link
  # Wine links the user's desktop and documents to the Linux home folder,
  # which every prefix would then share: a shortcut made in one would appear
  # in the others. Each prefix keeps its own.
  for link in "$WINEPREFIX"/drive_c/users/*/*; do
    if [ -L "$link" ]; then
      rm -f "$link" && mkdir -p "$link"
    fi
  done
  for attempt in 1 2; do
    "$WINESERVER" -p 2>/dev/null || true
    "$WINE" wineboot </dev/null >/dev/null 2>&1 || true
    "$WINE" reg query 'HKCU\Software\Wine\Drivers' /v Graphics </dev/null 2>/dev/null | grep -q null && break
    "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1 || true
    stop_wineserver
  done
  desktop_running || ("$WINE" notepad </dev/null >/dev/null 2>&1 &)
  # Up to a minute: under load, Wine's desktop takes its time to come up.
  for attempt in $(seq 300); do
    desktop_running && break
    sleep 0.2
  done
  "$WINE" wineboot </dev/null >/dev/null 2>&1 && desktop_running ||
    { echo "Wine does not start in $WINEPREFIX; scripts/bootstrap creates the prefix" >&2; return 1; }
}

desktop_running() {
  [ -n "$(pids_with "WINEPREFIX=$WINEPREFIX" -f 'explorer.exe /desktop')" ]
}

# pids_with NAME=VALUE PGREP_ARGUMENTS...: the processes pgrep finds whose
# environment holds NAME=VALUE.
pids_with() {
  local pid
  for pid in $(pgrep "${@:2}"); do
    if tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qx -- "$1"; then echo "$pid"; fi
  done
}

stop_wineserver() {
  "$WINESERVER" -k 2>/dev/null || true
  "$WINESERVER" -w 2>/dev/null || true
}
