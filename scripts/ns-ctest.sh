#!/usr/bin/env bash
# Runs CTest for one checkout's Windows build inside a network namespace of its own, so that
# several checkouts can run their camera-simulator tests at once without sharing the loopback
# addresses, port 554 or the simulator's control port. Developer convenience; CI uses test.sh.
#   ns-ctest.sh NAMESPACE BUILD_DIR [ctest arguments...]
set -uo pipefail
ns=$1; build=$(cd "$2" && pwd); shift 2
if ! ip netns list | grep -qw "^$ns"; then
  ip netns add "$ns" || exit 1
  ip netns exec "$ns" ip link set lo up multicast on
  ip netns exec "$ns" ip route add 224.0.0.0/4 dev lo 2>/dev/null || true
fi
export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
in_ns() { ip netns exec "$ns" "$@"; }
bash "$(dirname "$0")/wine-prefix.sh" "$WINEPREFIX" ip netns exec "$ns" || exit 1
in_ns ctest --test-dir "$build" --output-on-failure "$@"
