#!/usr/bin/env bash
# The whole test run: installs what is missing, builds the Windows DLL with its tests, the
# native sanitizer build and the fuzzers, runs every test under Wine and natively, runs
# each fuzz target for a bounded time. Exits non-zero on any failure.
#   FUZZ_SECONDS  seconds per fuzz target (default 10)
#   JOBS          parallel build jobs (default: number of cores)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/install-deps.sh || exit 1

jobs=${JOBS:-$(nproc)}
fuzz_seconds=${FUZZ_SECONDS:-10}
status=0
fail() { echo "FAILED: $*"; status=1; }

configure() {  # dir, cmake args...
  local dir=$1; shift
  [ -f "$dir/build.ninja" ] || cmake -S . -B "$dir" -G Ninja -DLUMIVAR_WERROR=ON "$@" >/dev/null || return 1
}

echo "== build: windows (MinGW-w64)"
configure build/win -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  && cmake --build build/win -j "$jobs" || { echo "windows build failed"; exit 1; }
echo "== build: native (ASan/UBSan)"
configure build/native -DCMAKE_BUILD_TYPE=Debug -DLUMIVAR_NATIVE=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  && cmake --build build/native -j "$jobs" || { echo "native build failed"; exit 1; }
echo "== build: fuzz (libFuzzer)"
configure build/fuzz -DCMAKE_BUILD_TYPE=Debug -DLUMIVAR_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  && cmake --build build/fuzz -j "$jobs" || { echo "fuzz build failed"; exit 1; }

echo "== tests: native"
ctest --test-dir build/native --output-on-failure -j "$jobs" || fail "native tests"

echo "== tests: wine"
# A prefix of our own, created once; the server is kept alive across the run so that each test
# process starts quickly, and the prefix's services are started outside CTest so that no
# lingering Wine process holds CTest's output pipe.
export WINEPREFIX="$root/build/win/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
bash scripts/wine-prefix.sh "$WINEPREFIX" || fail "wine prefix"
ctest --test-dir build/win --output-on-failure -j "$jobs" || fail "wine tests"
wineserver -k >/dev/null 2>&1 </dev/null || true

echo "== fuzzing: ${fuzz_seconds}s per target, $jobs at a time"
# One target a core: each is single-threaded, and the run's length is the fuzzing's share of CI.
fuzz_one() {  # name
  local name=$1 corpus="build/fuzz/corpus/$1" seeds=()
  mkdir -p "$corpus" "build/fuzz/crashes/$name"
  [ -d "fuzz/corpus/$name" ] && seeds+=("fuzz/corpus/$name")
  [ -d "fuzz/seeds/$name" ] && seeds+=("fuzz/seeds/$name")
  "build/fuzz/fuzz_$name" -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=0 -artifact_prefix="build/fuzz/crashes/$name/" "$corpus" "${seeds[@]}" \
    >"build/fuzz/$name.log" 2>&1
  echo $? >"build/fuzz/$name.rc"
}
names=()
for f in build/fuzz/fuzz_*; do
  [ -x "$f" ] || continue
  names+=("${f##*/fuzz_}")
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do wait -n; done
  fuzz_one "${names[-1]}" &
done
wait
for name in "${names[@]}"; do
  if [ "$(cat "build/fuzz/$name.rc" 2>/dev/null)" = 0 ]; then
    echo "fuzz $name: $(grep -o 'Done [0-9]* runs' "build/fuzz/$name.log" | tail -1)"
  else
    tail -40 "build/fuzz/$name.log"
    fail "fuzz target $name (inputs in build/fuzz/crashes/$name)"
  fi
done

if [ $status -eq 0 ]; then echo "ALL TESTS PASSED"; else echo "SOME TESTS FAILED"; fi
exit $status
