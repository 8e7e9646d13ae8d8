#!/usr/bin/env bash
# Installs zellik_sim from this checkout (with its dependencies) and runs the
# example simulation. Later runs reuse the build folder, so they are quick.
set -euo pipefail
cd "$(dirname "$0")/.."

PYTHON=${PYTHON:-python3}

"$PYTHON" -m pip install -q --disable-pip-version-check .
exec "$PYTHON" examples/pipeline.py "$@"
