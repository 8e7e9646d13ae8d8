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
wheels=(dist/zellik_sim-*-cp310-abi3-*.whl)
if [ ${#wheels[@]} -ne 1 ] || [ ! -f "${wheels[0]}" ]; then
  echo "build_wheel.sh: expected one cp310-abi3 wheel in dist/, found: $(ls dist)" >&2
  exit 1
fi
"$ZELLIK_PY" -m pip install -q --no-deps --force-reinstall "${wheels[0]}"
echo "Built and installed ${wheels[0]}"
