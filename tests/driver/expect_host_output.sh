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
out=$("$here/../../scripts/wine-run.sh" "$host" "$@" 2>&1 </dev/null)
code=$?
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
