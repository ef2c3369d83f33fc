#!/usr/bin/env bash
# One simulated camera model's capability report, as the test host prints what the driver wrote
# into its result object, must equal the expected report line for line (written from what the
# camera model announces, not from the driver's output).
#   query_report.sh HOST.EXE DRIVER.DLL ADDRESS EXPECTED_REPORT [host query options...]
host=$1 dll=$2 cam=$3 report=$4
shift 4
IT_DIR=${LUMIVAR_BINARY_DIR:-/tmp}/capability_query/$(basename "$report" .txt)
source "$(dirname "$0")/../integration/lib.sh" "$host" "$dll"
camsim_reset "$cam"
host_run query 60 -u service -w camsim query "$cam" "$@" || fail "host exit code $?"
got=$(host_log query | grep -E '^(device |framerate|[0-9]+ |query: (completed|failed))')
if diff -u "$report" - <<<"$got"; then
  pass "$cam: the report equals $(basename "$report")"
else
  fail "$cam: the report differs from $(basename "$report") (diff above: - expected, + written)"
fi
finish
