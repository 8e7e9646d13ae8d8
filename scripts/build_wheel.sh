#!/usr/bin/env bash
# Builds the one cp310-abi3 wheel of this checkout into dist/ and installs it
# into the project's Python environment. Run scripts/setup_deps.sh first.
# The build folder (build/cp310-abi3-*) is kept, so later builds are quick.
set -euo pipefail
source "$(dirname "$0")/tool_env.sh"
cd "$ZELLIK_ROOT"

rm -rf dist
echo "Building the zellik_sim wheel (the first build takes a few minutes)"
# The build tools come from the environment (setup_deps.sh put them there),
# so the build needs no network.
"$ZELLIK_PY" -m pip wheel -q --no-build-isolation --no-deps -w dist .
wheel=$(one_abi3_wheel dist '*' build_wheel.sh)
"$ZELLIK_PY" -m pip install -q --no-deps --force-reinstall "$wheel"
echo "Built and installed $wheel"
