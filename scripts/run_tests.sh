#!/usr/bin/env bash
# Builds zellik_sim and runs every test: the C++ core tests (GoogleTest, via
# CTest) and the Python tests (pytest) against the wheel built and installed
# into the project's Python environment (see scripts/setup_deps.sh).
# ZELLIK_SKIP_SETUP=1 skips the set-up (for callers that have just done it).
set -euo pipefail
cd "$(dirname "$0")/.."

[ "${ZELLIK_SKIP_SETUP:-0}" = 1 ] || bash scripts/setup_deps.sh tests
source scripts/tool_env.sh

echo "== core: build and test"
cmake -S . -B build/core "${CMAKE_GENERATOR_ARGS[@]}" -DCMAKE_BUILD_TYPE=Release -DZELLIK_WERROR=ON >/dev/null
cmake --build build/core -j "$JOBS"
ctest --test-dir build/core --output-on-failure

echo "== python: build, install and test the wheel"
bash scripts/build_wheel.sh
# Run from the tests folder so the installed module is the one imported.
(cd python/tests && "$ZELLIK_PY" -m pytest -q -p no:cacheprovider .)
