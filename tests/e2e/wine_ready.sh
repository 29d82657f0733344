#!/usr/bin/env bash
# Starts the wineserver, Wine's background services and the desktop of the
# tests' prefix and of the kit checks' once, before the Windows tests: the
# tests' programs then start at once, and no service's start-up lands in a
# test's streams.
# Usage: wine_ready.sh SOURCE_DIR
set -uo pipefail
. "$1/scripts/lib.sh"
for prefix in "$WINEPREFIX" "$QIX_KIT_WINEPREFIX"; do
  export WINEPREFIX=$prefix
  start_wineserver
  # start_wineserver goes on whatever happens; here a Wine that does not answer fails.
  if ! "$WINE" wineboot </dev/null >/dev/null 2>&1 || ! desktop_running; then
    echo "Wine does not start in $WINEPREFIX; scripts/bootstrap creates the prefix" >&2
    exit 1
  fi
  echo "Wine is ready in $WINEPREFIX"
done
