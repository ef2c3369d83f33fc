#!/usr/bin/env bash
# The ways a capability query ends without a report, each with its status and message, and the
# host's calls that end a query early: terminate and uninit while a camera is slow. Hostile
# camera answers give a failed or partial report, never a crash or hang.
source "$(dirname "$0")/../integration/lib.sh" "$@"
locked=127.0.0.77 good=127.0.0.70 hostile=127.0.0.78 nobody=127.0.0.79
for c in $locked $good $hostile; do camsim_reset $c; done

fault() {  # ADDRESS QUERY
  camsim_get "/camera/$1/fault" "$2" >/dev/null
}
# elapsed NAME: the query's time in ms as the host measured it.
elapsed() { host_log "$1" | sed -n 's/^query: ended after \([0-9]*\) ms$/\1/p'; }
requests() { camsim_get "/camera/$1/requests.txt" | wc -l; }

host_run login 60 query $locked
expect_line login '^query: failed status=1 message=Failed to get camera properties, login failed \(invalid credentials\)$' \
  "a refused login check reports status 1 and its message"

host_run password 60 -u service -w wrong query $good
expect_line password '^query: failed status=1 message=Failed to get camera properties, login failed \(invalid credentials\)$' \
  "credentials the camera refuses report status 1"

host_run offline 60 query $nobody
expect_line offline '^query: failed status=2 message=Failed to get camera properties, device is offline or is located in unaccessible subnet$' \
  "an address nobody answers on reports status 2"

camsim_get "/camera/$good/clear_log" >/dev/null
for bad in "$good:80" "$good/x" "user@$good" "$good?" "cam era"; do
  host_run invalid 60 -u service -w camsim query "$bad"
  expect_line invalid '^query: failed status=0 message=Failed to start capability fetching thread\. Device address is invalid!$' \
    "the address \"$bad\" is refused with status 0"
done
[ "$(requests $good)" -eq 0 ] && pass "an invalid address causes no traffic" || fail "an invalid address reached the camera"

# One query per module (its thread handle is held until the module ends), and the host ending the
# module from inside its own completion callback: no deadlock, no crash, a prompt return.
for api in global module; do
  host_run "again_$api" 60 -u service -w camsim query $good --api $api
  expect_line "again_$api" '^query: completed$' "$api: the query completes"
  expect_line "again_$api" '^query: start after the end: refused$' "$api: a second start on the same module is refused"
  host_run "incallback_$api" 60 -u service -w camsim query $good --api $api --uninit-in-callback
  expect_line "incallback_$api" '^query: completed$' "$api: completion reported to the callback that ends the module"
  ms=$(host_log "incallback_$api" | sed -n 's/^query: ended from inside the callback in \([0-9]*\) ms$/\1/p')
  [ -n "$ms" ] && [ "$ms" -lt 2000 ] && pass "$api: ending the module inside its callback returned in $ms ms" ||
    fail "$api: ending the module inside its callback took ${ms:-?} ms"
  expect_line "incallback_$api" '^SUMMARY: OK' "$api: the host ends cleanly after ending the module inside the callback"
done

# Terminate and uninit while the camera takes 8 s to tell its frame rate (a step in mid-load).
# Terminate aborts the request: closing it breaks it at once on Windows; Wine's synchronous
# WinHTTP only notices at the reply or the request's time-out (10 s), so the query ends with its
# failure after that. Uninit does not wait for the network: it returns within its grace
# (0.5 s) plus margin, and no callback comes after it. Either way no request follows the slow one.
for how in terminate uninit; do
  for api in global module; do
    camsim_reset $hostile
    fault $hostile "kind=delay&ms=8000&match=command%3D0x0AD6&count=1"
    host_run "${how}_$api" 60 query $hostile --api $api "--$how-after" 1000
    reject_line "${how}_$api" '^query: thread terminated' "$how ($api): the query thread ends by itself"
    if [ $how = terminate ]; then
      expect_line "${how}_$api" '^query: failed status=3 message=Failed to get camera properties: the query was terminated$' \
        "$how ($api) ends the query with status 3"
      ms=$(elapsed "${how}_$api")
      [ -n "$ms" ] && [ "$ms" -lt 12000 ] && pass "$how ($api): the query ended after $ms ms" ||
        fail "$how ($api): the query ended after ${ms:-?} ms (bound 12000)"
    else
      ms=$(host_log "${how}_$api" | sed -n 's/^query: module ended in \([0-9]*\) ms$/\1/p')
      [ -n "$ms" ] && [ "$ms" -lt 3000 ] && pass "$how ($api): the module ended in $ms ms" ||
        fail "$how ($api): the module ended in ${ms:-?} ms (bound 3000)"
      expect_line "${how}_$api" '^query: no callback after the module ended$' "$how ($api): no callback after it returned"
      expect_line "${how}_$api" '^SUMMARY: OK' "$how ($api): the host ends cleanly"
    fi
    last=$(camsim_get "/camera/$hostile/requests.txt" | tail -1)
    case $last in
      *command=0x0AD6*) pass "$how ($api): no request after the slow one" ;;
      *) fail "$how ($api): the query went on asking the camera ($last)" ;;
    esac
  done
done

# Hostile answers: RCP+ replies whose bytes or values no camera would send.
rcp() { printf '<?xml version="1.0" encoding="iso-8859-1"?><rcp><result>%s</result></rcp>' "$1"; }
enc() { /usr/bin/python3 -c 'import sys,urllib.parse; print(urllib.parse.quote(sys.argv[1], safe=""))' "$1"; }
hostile_case() {  # NAME COMMAND REPLY_XML EXPECTED_REGEX DESCRIPTION
  camsim_reset $hostile
  fault $hostile "kind=body&match=command%3D$2&count=0&text=$(enc "$3")"
  host_run "$1" 60 query $hostile
  expect_line "$1" "$4" "$5"
  expect_line "$1" '^SUMMARY: OK' "$1: the host saw a clean query"
}
hostile_case truncated 0xFF10 "$(rcp '<str>ba ba 00 01 00 05 00 01 00 00</str>')" \
  '^query: failed status=3 message=Failed to get camera properties: the camera.s capability list is missing or unreadable$' \
  "a cut capability list fails the query with its message"
hostile_case magic 0xFF10 "$(rcp '<str>00 00 00 01 00 00</str>')" \
  '^query: failed status=3 message=Failed to get camera properties: the camera.s capability list is missing or unreadable$' \
  "a capability list of the wrong kind fails the query"
hostile_case lines 0x01D6 "$(rcp '<dec>0</dec>')" \
  '^query: failed status=3 message=Failed to get camera properties: the camera reports no video line$' \
  "a camera without video lines fails the query"
hostile_case counts 0x01DB "$(rcp '<dec>4294967295</dec>')" '^query: completed$' \
  "an absurd input count still gives a report"
reject_line counts '^2 = ' "the absurd input count is not reported"
hostile_case records 0x0C00 "$(rcp '<str>00 01 00 00 00 00 00 1e ff ff ff ff ff ff ff ff 00</str>')" \
  '^125 \[Remote Stream: Supported Resolutions\] = 4294967295x4294967295:33$' \
  "a record list of the wrong length keeps its whole records"
hostile_case profiles 0x0AF9 "$(rcp "<str>$(printf 'ff %.0s' $(seq 1 3000))</str>")" \
  '^7 \[Encoder capabilities\] = 255,255(:255,255){63}$' "a flood of profile pairs is cut to 64"
hostile_case model 0x097C "$(rcp "<str>Caméra $(printf '\x7f')ÿ</str>")" \
  '^device model = Cam\?+ra \?+$' "a model name outside ASCII reaches the host as printable text"
garbage=$(/usr/bin/python3 -c 'import random; r = random.Random(7); print("".join(chr(r.randint(1, 255)) for _ in range(3000)))')
hostile_case garbage 0x097C "$garbage" \
  '^query: failed status=3 ' "a reply that is no XML fails the query"
finish
