#!/usr/bin/env bash
# Makes a Wine prefix ready for the driver and leaves a persistent wineserver running on it.
#   wine-prefix.sh PREFIX [command prefix...]   e.g.  wine-prefix.sh build/win/wineprefix ip netns exec NS
# `wineboot -i` returns before the prefix's set-up has run to its end (the DLL registrations,
# MSXML's among them, go on in processes of their own); a test that starts then finds no XML
# parser, and a server ended early keeps a half-written registry for good. So the set-up is
# waited for (the server ends with the last of its processes and writes the registry), checked
# by its MSXML entries, and made again from nothing when it is incomplete.
set -u
prefix=$1
shift
run=("$@")
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
ready() { [ -f "$prefix/system.reg" ] && grep -qi 'Msxml2\.DOMDocument' "$prefix/system.reg"; }
for attempt in 1 2 3; do
  ready && break
  [ "$attempt" -gt 1 ] && echo "wine-prefix: the prefix $prefix was incomplete; made again (attempt $attempt)"
  "${run[@]}" wineserver -k >/dev/null 2>&1 </dev/null
  rm -rf "$prefix"
  "${run[@]}" wineboot -i >/dev/null 2>&1 </dev/null
  "${run[@]}" wineserver -w >/dev/null 2>&1 </dev/null
done
ready || { echo "wine-prefix: cannot make a working Wine prefix at $prefix"; exit 1; }
# Started with their output away from ours: lingering Wine processes that hold the caller's pipe
# would keep CTest waiting.
"${run[@]}" sh -c 'wineserver -p; wine cmd /c exit' >/dev/null 2>&1 </dev/null
exit 0
