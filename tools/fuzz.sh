#!/bin/bash
# Fuzzes kd7720um's hooks with libFuzzer (Linux, clang; the fuzz preset).
#
#   tools/fuzz.sh smoke            the CI run: a fixed number of executions from the seeds
#   tools/fuzz.sh long [SECONDS]   as long as asked (default: until stopped), corpus kept
#   tools/fuzz.sh replay FILE...   runs inputs once each (a crash file, a regression)
#
# Environment: KD_FUZZ_BUILD (build folder, default build/fuzz), KD_FUZZ_RUNS
# (smoke executions, default 150000). Findings go to
# $KD_FUZZ_BUILD/fuzz-artifacts; each is copied into fuzz/regressions/ once
# understood (fuzz/regressions/README.md), where fuzz_replay keeps it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${KD_FUZZ_BUILD:-$root/build/fuzz}
mode=${1:-smoke}
shift || true

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake --preset fuzz -B "$build" >/dev/null
fi
cmake --build "$build" --target kd_fuzz_hooks fuzz_seeds -j"${KD_FUZZ_BUILD_JOBS:-2}" >/dev/null

corpus=$build/fuzz-corpus
mkdir -p "$corpus/seeds" "$corpus/smoke" "$corpus/long" "$build/fuzz-artifacts"
"$build/bin/fuzz_seeds" "$corpus/seeds" >/dev/null

# Per-input leak checks are the harness's own (memory blocks, handles and
# files of the emulated machine after every job); LeakSanitizer still checks
# the whole process when it ends.
# Inputs of 1 KiB hold jobs of hundreds of steps (a page's bulk takes four
# bytes); longer ones only slow the run (KD_FUZZ_MAX_LEN to change it).
common=(-detect_leaks=0 -max_len="${KD_FUZZ_MAX_LEN:-1024}" -dict="$root/fuzz/kd7720um.dict"
        -artifact_prefix="$build/fuzz-artifacts/" -print_final_stats=1)

case "$mode" in
smoke)
  exec "$build/bin/kd_fuzz_hooks" "${common[@]}" -seed=1 -runs="${KD_FUZZ_RUNS:-150000}" \
    "$corpus/smoke" "$corpus/seeds"
  ;;
long)
  seconds=${1:-0}
  exec "$build/bin/kd_fuzz_hooks" "${common[@]}" -rss_limit_mb=4096 -max_total_time="$seconds" "$corpus/long" "$corpus/seeds"
  ;;
replay)
  exec "$build/bin/kd_fuzz_hooks" "${common[@]}" "$@"
  ;;
*)
  echo "usage: tools/fuzz.sh smoke | long [SECONDS] | replay FILE..." >&2
  exit 2
  ;;
esac
