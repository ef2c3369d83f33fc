#!/usr/bin/env bash
# The host-safety matrix three times (RUNS), then one table: each case with its bound and the
# worst stop of the runs, the worst Close, late callbacks and the verdicts seen. Needs the
# Windows build and a camera simulator on the control port (CAMSIM_CONTROL, 127.0.0.1:18080),
# e.g. inside a namespace of one's own:
#   ip netns exec NS bench/run_host_safety_bench.sh [BUILD_DIR]
# The figures of every run stay in BUILD_DIR/bench-host-safety/.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/win}" && pwd)
runs=${RUNS:-3}
out=$build/bench-host-safety
mkdir -p "$out"
: >"$out/all.txt"
export WINEPREFIX=${WINEPREFIX:-$build/wineprefix} WINEDEBUG=-all LUMIVAR_SOURCE_DIR=$root LUMIVAR_BINARY_DIR=$out
for run in $(seq 1 "$runs"); do
  echo "== run $run of $runs"
  SAFETY_RESULTS="$out/all.txt" IT_DIR="$out/run$run" bash "$root/tests/integration/host_safety.sh" \
    "$build/lumivar_host.exe" "$build/LumivarIPCapture.dll" >"$out/run$run.log" 2>&1
  grep -E "^matrix:|^RESULT:" "$out/run$run.log"
done
echo
echo "host-safety matrix, worst of $runs runs (ms; a stop of -1 or 'hang' never returned)"
# Fields: case bound stop close late threads handles frames verdict reasons.
awk -v runs="$runs" '
  function worse(a, b) { return (a == "hang" || a == "-" || b == "hang" || b == "-") ? (a == "hang" || b == "hang" ? "hang" : "-") : (a + 0 > b + 0 ? a : b) }
  {
    c = $1
    if (!(c in bound)) { order[n++] = c; bound[c] = $2; stop[c] = $3; close_[c] = $4; late[c] = $5; verdicts[c] = "" }
    else { stop[c] = worse(stop[c], $3); close_[c] = worse(close_[c], $4); if ($5 + 0 > late[c] + 0) late[c] = $5 }
    v = $9; if ($10 != "") v = v "(" $10 ")"
    if (index(verdicts[c], v) == 0) verdicts[c] = verdicts[c] (verdicts[c] == "" ? "" : " ") v
    count[c]++
  }
  END {
    printf "%-20s %9s %12s %12s %5s %s\n", "case", "bound_ms", "worst_stop", "worst_close", "late", "verdicts"
    for (i = 0; i < n; i++) { c = order[i]
      printf "%-20s %9s %12s %12s %5s %s%s\n", c, bound[c], stop[c], close_[c], late[c], verdicts[c], count[c] < runs ? " (ran " count[c] "x)" : "" }
  }' < <(sort "$out/all.txt")
