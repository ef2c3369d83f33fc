#!/usr/bin/env bash
# Runs the test host under Wine and checks what it printed.
#   expect_host_output.sh HOST.EXE [--expect REGEX]... [--reject REGEX]... [--exit CODE] -- HOST ARGS...
# Fails when an expected line is missing, a rejected one appears, or the exit code differs
# (default 0).
set -u
host=$1; shift
expects=(); rejects=(); want_exit=0
while [ $# -gt 0 ]; do
  case $1 in
    --expect) expects+=("$2"); shift 2 ;;
    --reject) rejects+=("$2"); shift 2 ;;
    --exit) want_exit=$2; shift 2 ;;
    --) shift; break ;;
    *) echo "unknown option $1"; exit 2 ;;
  esac
done
here=$(cd "$(dirname "$0")" && pwd)
# The host prints at least a usage line on every path, so a run without any output means Wine
# never started it (seen once in CI on a loaded machine: exit 1 after 20 ms); such a start is
# tried again rather than taken for the host's answer.
for attempt in 1 2 3; do
  out=$("$here/../../scripts/wine-run.sh" "$host" "$@" 2>&1 </dev/null)
  code=$?
  [ -n "$out" ] && break
  echo "NOTE: Wine ended (exit $code) before the host printed anything; start $attempt of 3"
  sleep 0.5
done
printf '%s\n' "$out"
status=0
if [ "$code" != "$want_exit" ]; then echo "CHECK: exit code $code, expected $want_exit"; status=1; fi
for re in "${expects[@]}"; do
  grep -Eq -- "$re" <<<"$out" || { echo "CHECK: missing line matching: $re"; status=1; }
done
for re in "${rejects[@]}"; do
  if grep -Eq -- "$re" <<<"$out"; then echo "CHECK: unexpected line matching: $re"; status=1; fi
done
exit $status
