#!/usr/bin/env bash
# Line and branch coverage of the core (core/src), from the core test suite
# and the fuzz corpora replayed: the corpus kept in core/fuzz/corpus (which
# the tests replay anyway) and, when scripts/fuzz.sh has grown one, the
# working corpus in build/fuzz/corpus. Clang's source-based coverage counts
# a branch once per way a condition can go, so the figures read plainly.
#
# Usage: bash scripts/coverage.sh
# Prints the table per file; build/coverage/report.txt keeps it, and
# build/coverage/html/index.html shows every line.
set -euo pipefail
cd "$(dirname "$0")/.."

[ "${ZELLIK_SKIP_SETUP:-0}" = 1 ] || bash scripts/setup_deps.sh coverage
source scripts/tool_env.sh

out=build/coverage
cmake -S . -B "$out" "${CMAKE_GENERATOR_ARGS[@]}" -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_COMPILER=clang++-14 -DZELLIK_COVERAGE=ON -DZELLIK_BUILD_TESTS=ON >/dev/null
cmake --build "$out" -j "$JOBS"

rm -rf "$out/profiles"
mkdir -p "$out/profiles"
export LLVM_PROFILE_FILE=$PWD/$out/profiles/%p.profraw
ctest --test-dir "$out" --output-on-failure >/dev/null
for target in actions snapshot explore; do
  if [ -d "build/fuzz/corpus/$target" ] && [ -n "$(ls -A "build/fuzz/corpus/$target")" ]; then
    "$out/core/fuzz/fuzz_${target}_replay" "build/fuzz/corpus/$target" >/dev/null 2>&1
  fi
done

llvm-profdata-14 merge -sparse "$out"/profiles/*.profraw -o "$out/merged.profdata"
objects=("$out/core/zellik_core_tests" -object "$out/core/fuzz/fuzz_actions_replay"
         -object "$out/core/fuzz/fuzz_snapshot_replay" -object "$out/core/fuzz/fuzz_explore_replay")
llvm-cov-14 report "${objects[@]}" -instr-profile="$out/merged.profdata" \
  -ignore-filename-regex='(core/tests|core/fuzz|/usr)/' | tee "$out/report.txt"
llvm-cov-14 show "${objects[@]}" -instr-profile="$out/merged.profdata" -format=html \
  -show-branches=count -output-dir="$out/html" -ignore-filename-regex='(core/tests|core/fuzz|/usr)/'
echo "Coverage by file: $out/report.txt; every line: $out/html/index.html"
