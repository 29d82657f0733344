#!/usr/bin/env bash
# Starts the test prefix's wineserver and Wine's background services once,
# before the Windows tests, as scripts/test does: the tests' programs then
# start at once, and no service's start-up lands in a test's streams. The
# desktop's window keeps the server running until `wineserver -k`.
# Usage: wine_ready.sh SOURCE_DIR WINEPREFIX
set -uo pipefail
export WINEPREFIX=${WINEPREFIX:-$2}
. "$1/scripts/lib.sh"
# A server already running for the prefix (scripts/test's) is kept.
"$WINESERVER" -p60 2>/dev/null
if ! "$WINE" wineboot </dev/null >/dev/null 2>&1; then
  echo "Wine does not start in $WINEPREFIX; scripts/bootstrap creates the prefix" >&2
  exit 1
fi
start_desktop
echo "Wine is ready in $WINEPREFIX"
