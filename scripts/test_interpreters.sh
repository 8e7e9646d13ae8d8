#!/usr/bin/env bash
# Installs one built wheel into a fresh virtual environment of every CPython
# from 3.10 up that this machine has (pyenv's versions, then python3.X on
# PATH) and runs the Python tests under each. Interpreters that are absent are
# skipped with a message.
#
# Usage: bash scripts/test_interpreters.sh [WHEEL]   (default: dist/*.whl)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

wheel=${1:-$(ls dist/zellik_sim-*-cp310-abi3-*.whl 2>/dev/null | head -n 1)}
if [ -z "$wheel" ] || [ ! -f "$wheel" ]; then
  echo "test_interpreters.sh: no wheel given and none in dist/ (build one with scripts/build_wheel.sh)" >&2
  exit 1
fi
wheel=$(cd "$(dirname "$wheel")" && pwd)/$(basename "$wheel")
export PIP_DISABLE_PIP_VERSION_CHECK=1 PIP_ROOT_USER_ACTION=ignore

# The newest patch release of CPython 3.minor on this machine, if any.
find_interpreter() {
  local minor=$1 candidate
  for candidate in $(ls -d "${PYENV_ROOT:-$HOME/.pyenv}"/versions/3."$minor".* 2>/dev/null | sort -V -r); do
    [ -x "$candidate/bin/python3" ] && { echo "$candidate/bin/python3"; return; }
  done
  command -v "python3.$minor" 2>/dev/null || true
}

tested=()
skipped=()
for minor in $(seq 10 20); do
  python=$(find_interpreter "$minor")
  if [ -z "$python" ]; then
    [ "$minor" -le 13 ] && { echo "== CPython 3.$minor: not on this machine, skipped"; skipped+=("3.$minor"); }
    continue
  fi
  echo "== CPython 3.$minor: $python"
  env_dir=build/interpreters/3.$minor
  "$python" -m venv --clear "$env_dir"
  mapfile -t wanted < <("$env_dir/bin/python" scripts/requirements.py runtime test)
  "$env_dir/bin/python" -m pip install -q "$wheel" "${wanted[@]}"
  (cd python/tests && PATH="$root/$env_dir/bin:$PATH" "$root/$env_dir/bin/python" -m pytest -q -p no:cacheprovider .)
  tested+=("3.$minor")
done
echo "Python tests passed under CPython ${tested[*]:-(none)}${skipped[*]:+; skipped (absent): ${skipped[*]}}"
[ ${#tested[@]} -gt 0 ]
