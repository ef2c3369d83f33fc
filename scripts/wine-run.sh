#!/usr/bin/env bash
# Runs a Windows program under Wine with the build's own prefix (CTest's emulator).
# WINEPREFIX comes from the environment when the test script set it up; otherwise it is
# the prefix next to the build tree that holds the program.
set -u
if [ -z "${WINEPREFIX:-}" ]; then
  dir=$(cd "$(dirname "$1")" && pwd)
  while [ "$dir" != "/" ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
  export WINEPREFIX="$dir/wineprefix"
fi
export WINEDEBUG=-all
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec wine "$@"
