#!/usr/bin/env bash
# Runs a reception test program under Wine with the stand-in camera (rtp_sender.py) beside it.
#   run_with_sender.sh unicast   <test.exe> [gtest args...]
#   run_with_sender.sh multicast <test.exe> [gtest args...]
# Multicast runs in a network namespace of its own (only its loopback, a multicast route on it),
# so no multicast datagram can leave the machine. Winsock sockets under Wine are created by the
# wineserver, so the namespace gets a wineserver of its own, on a prefix used only here; both
# die with the namespace when the script ends, however it ends.
set -u
mode=$1
exe=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
build=$(cd "$(dirname "$exe")" && pwd)
while [ "$build" != "/" ] && [ ! -f "$build/CMakeCache.txt" ]; do build=$(dirname "$build"); done
control_port=$((20000 + $$ % 20000))
ready=$(mktemp)
sender_pid=""
ns=""

cleanup() {
  [ -n "$sender_pid" ] && kill "$sender_pid" 2>/dev/null && wait "$sender_pid" 2>/dev/null
  if [ -n "$ns" ]; then
    ip netns exec "$ns" env WINEPREFIX="$WINEPREFIX" wineserver -k >/dev/null 2>&1 </dev/null
    ip netns delete "$ns" 2>/dev/null
  fi
  rm -f "$ready"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

in_ns() {
  if [ -n "$ns" ]; then ip netns exec "$ns" "$@"; else "$@"; fi
}

export WINEDEBUG=-all
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
case "$mode" in
  unicast)
    export WINEPREFIX="${WINEPREFIX:-$build/wineprefix}"
    dest=127.0.0.1
    ;;
  multicast)
    export WINEPREFIX="$build/wineprefix-netns"
    ns="lumivar-mc-$$"
    ip netns add "$ns" || { echo "cannot create network namespace $ns"; ns=""; exit 1; }
    ip netns exec "$ns" ip link set lo up || exit 1
    ip netns exec "$ns" ip route add 224.0.0.0/4 dev lo || exit 1
    # A server left over from an interrupted run would live outside the namespace.
    WINEPREFIX="$WINEPREFIX" wineserver -k >/dev/null 2>&1 </dev/null
    dest=239.255.$(( ($$ >> 8) % 256 )).$(( $$ % 254 + 1 ))
    ;;
  *)
    echo "usage: $0 unicast|multicast <test.exe> [args]"
    exit 2
    ;;
esac

# Start the prefix's services with their output away from ours: lingering Wine processes that
# hold the caller's pipe would keep CTest waiting.
if [ -n "$ns" ]; then
  bash "$root/scripts/wine-prefix.sh" "$WINEPREFIX" ip netns exec "$ns" || exit 1
else
  bash "$root/scripts/wine-prefix.sh" "$WINEPREFIX" || exit 1
fi

# Started directly (ip netns exec execs it), so $! is the sender itself and cleanup ends it; its
# output goes to a file so that it never holds the caller's pipe.
sender_log="$build/rtp_sender_${mode}.log"
if [ -n "$ns" ]; then
  ip netns exec "$ns" python3 "$here/rtp_sender.py" "127.0.0.1:$control_port" "$ready" >"$sender_log" 2>&1 </dev/null &
else
  python3 "$here/rtp_sender.py" "127.0.0.1:$control_port" "$ready" >"$sender_log" 2>&1 </dev/null &
fi
sender_pid=$!
for _ in $(seq 1 100); do
  [ -s "$ready" ] && break
  sleep 0.1
done
[ -s "$ready" ] || { echo "the RTP sender did not start"; exit 1; }

LUMIVAR_RTP_SENDER="127.0.0.1:$control_port" LUMIVAR_RTP_DEST="$dest" in_ns wine "$exe" "$@"
