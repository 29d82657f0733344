# Shared settings of the project's scripts; sourced, not run.
QIX_CACHE=${QIX_CACHE:-$(cat "$(dirname "${BASH_SOURCE[0]}")/../cmake/cache-folder")}
export WINEPREFIX=${WINEPREFIX:-$QIX_CACHE/wineprefix}
# The setup kit's checks judge everything that appears in their prefix: they
# get one of their own, beside the tests' (CMakeLists.txt names it alike), so
# that they run while the other tests install and register in theirs.
export QIX_KIT_WINEPREFIX=${QIX_KIT_WINEPREFIX:-$WINEPREFIX-kit}
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64

# build_folder PRESET: the preset's build folder, as CMakePresets.json names
# it (jq comes with bootstrap).
build_folder() {
  local root
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  jq -r --arg name "$1" '.configurePresets[] | select(.name == $name).binaryDir' \
    "$root/CMakePresets.json" | sed "s|\${sourceDir}|$root|"
}

# A script's steps. After `fail_on_interrupt NAME`, Ctrl+C, SIGINT or
# SIGTERM ends the script with "NAME: FAILED: interrupted during STEP" and
# 128 + the signal's number; the script's EXIT trap still runs. `step STEP`
# says which step runs. `in_session COMMAND...` runs a long one in a session
# of its own, which the interrupt ends with all it started: bash holds a trap
# back until a foreground command ends, so a signal sent to the script alone
# would otherwise wait for the whole step.
fail_on_interrupt() {
  qix_name=$1
  trap 'interrupted 2' INT
  trap 'interrupted 15' TERM
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
start_wineserver() {
  "$WINESERVER" -p 2>/dev/null || true
  "$WINE" wineboot </dev/null >/dev/null 2>&1 || true
  start_desktop
}

# Windows without a display: the null driver. The desktop process is started
# here, kept alive by a window that stays open until the server stops;
# otherwise an installer starts it on first use, and it keeps that run's
# standard error, such as a script's log file, open.
start_desktop() {
  # A new prefix has no such setting, and the desktop that wineboot started
  # keeps the driver it began with: with the setting in place, start again.
  if ! "$WINE" reg query 'HKCU\Software\Wine\Drivers' /v Graphics </dev/null 2>/dev/null | grep -q null; then
    "$WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f </dev/null >/dev/null 2>&1 || true
    stop_wineserver
    "$WINESERVER" -p 2>/dev/null || true
    "$WINE" wineboot </dev/null >/dev/null 2>&1 || true
  fi
  desktop_running && return 0
  ("$WINE" notepad </dev/null >/dev/null 2>&1 &)
  local attempt
  for attempt in $(seq 50); do
    desktop_running && return 0
    sleep 0.2
  done
}

desktop_running() {
  local pid
  for pid in $(pgrep -f 'explorer.exe /desktop'); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && return 0
  done
  return 1
}

stop_wineserver() {
  "$WINESERVER" -k 2>/dev/null || true
  "$WINESERVER" -w 2>/dev/null || true
}
