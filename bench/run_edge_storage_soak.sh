#!/usr/bin/env bash
# Edge-storage soak: 100 outage/replay rounds against one simulated camera, printing threads,
# descriptors and anonymous memory of the host process after every round (see
# tests/integration/edge_storage_rounds.sh). Needs the Windows build and runs inside the caller's
# network namespace with the camera simulator started (as CTest's camsim fixture does):
#   ip netns exec NS bash bench/run_edge_storage_soak.sh [ROUNDS]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build/win}
export ROUNDS=${1:-100} LUMIVAR_SOURCE_DIR=$root LUMIVAR_BINARY_DIR=$build
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix} WINEDEBUG=-all
bash "$root/tools/camsim/camsimctl.sh" start "$build/camsim" >/dev/null || exit 1
IT_DIR=$build/bench-edge-storage-soak bash "$root/tests/integration/edge_storage_rounds.sh" \
  "$build/lumivar_host.exe" "$build/LumivarIPCapture.dll"
code=$?
bash "$root/tools/camsim/camsimctl.sh" stop "$build/camsim" >/dev/null
exit $code
