#!/usr/bin/env bash
# Builds zellik_sim and runs every test: the C++ core tests (GoogleTest, via
# CTest) and the Python tests (pytest) against the wheel that `pip install .`
# builds and installs.
set -euo pipefail
cd "$(dirname "$0")/.."

PYTHON=${PYTHON:-python3}
JOBS=${JOBS:-2}

bash scripts/setup_deps.sh
source scripts/tool_env.sh

echo "== core: build and test"
cmake -S . -B build/core "${CMAKE_GENERATOR_ARGS[@]}" -DCMAKE_BUILD_TYPE=Release -DZELLIK_WERROR=ON >/dev/null
cmake --build build/core -j "$JOBS"
ctest --test-dir build/core --output-on-failure

echo "== python: build, install and test the wheel"
rm -rf dist
"$PYTHON" -m pip wheel -q --disable-pip-version-check --no-deps -w dist .
"$PYTHON" -m pip install -q --disable-pip-version-check --force-reinstall dist/zellik_sim-*.whl
# Run from the tests folder so the installed module is the one imported.
(cd python/tests && "$PYTHON" -m pytest -q -p no:cacheprovider .)
