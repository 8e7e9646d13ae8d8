#!/usr/bin/env bash
# Installs zellik_sim from this checkout into the project's Python
# environment (made on first use, see scripts/setup_deps.sh) and runs the
# example simulation. Later runs reuse the environment and the build folder,
# so they are quick.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup_deps.sh example
bash scripts/build_wheel.sh
source scripts/tool_env.sh
exec "$ZELLIK_PY" examples/pipeline.py "$@"
