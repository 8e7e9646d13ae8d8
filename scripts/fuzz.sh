#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer, everything under
# AddressSanitizer and UndefinedBehaviorSanitizer (build/fuzz), and runs each
# for a fixed time. The working corpus of a target, build/fuzz/corpus/TARGET,
# is seeded from core/fuzz/corpus/TARGET and carried from run to run. Any
# finding stops the run and fails it; its input is left in
# build/fuzz/findings/TARGET/ (see the README on keeping it as a test).
#
# Usage: bash scripts/fuzz.sh [SECONDS] [TARGET...]
#   SECONDS  how long each target runs (default 60)
#   TARGET   actions, snapshot, explore (default all three)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(actions snapshot explore)

[ "${ZELLIK_SKIP_SETUP:-0}" = 1 ] || bash scripts/setup_deps.sh fuzz
source scripts/tool_env.sh

cmake -S . -B build/fuzz "${CMAKE_GENERATOR_ARGS[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++-14 -DZELLIK_FUZZ=ON -DZELLIK_BUILD_TESTS=OFF >/dev/null
cmake --build build/fuzz -j "$JOBS"

# Allocation stacks are left out for speed: a finding replays with them in
# the sanitizer build of the tests (see the README).
export ASAN_OPTIONS=malloc_context_size=0:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for target in "${targets[@]}"; do
  work=build/fuzz/corpus/$target
  findings=build/fuzz/findings/$target
  mkdir -p "$work" "$findings"
  options=(-max_total_time="$seconds" -artifact_prefix="$findings/" -print_final_stats=1)
  case "$target" in
    actions) options+=(-max_len=128) ;;
    snapshot) options+=(-dict=core/fuzz/snapshot.dict) ;;
    # An input explores a few hundred states at most, in milliseconds: one
    # that takes seconds is a search that does not end.
    explore) options+=(-max_len=160 -timeout=10) ;;
    *) echo "fuzz.sh: unknown target '$target' (actions, snapshot, explore)" >&2; exit 2 ;;
  esac
  echo "== fuzz_$target for $seconds s"
  if ! build/fuzz/core/fuzz/fuzz_"$target" "${options[@]}" "$work" "core/fuzz/corpus/$target" \
      >"build/fuzz/$target.log" 2>&1; then
    tail -n 60 "build/fuzz/$target.log" >&2
    echo "fuzz_$target found a fault; its input is in $findings/" >&2
    exit 1
  fi
  grep -E "^stat::number_of_executed_units|^stat::average_exec_per_sec|^Done" "build/fuzz/$target.log" || true
done
