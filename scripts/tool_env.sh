# Sourced by the project's scripts: picks the Python environment they build,
# install and run in, and puts its tools (cmake, ninja, pytest and the like)
# first on PATH. It creates nothing; scripts/setup_deps.sh does.
#
# PYTHON is the base interpreter (python3 by default). The environment is the
# project-local .venv made from it, unless PYTHON already runs inside a
# virtual environment, which is then used as it is. ZELLIK_VENV names
# another folder for the project-local environment.
# Sets: ZELLIK_ROOT, ZELLIK_BASE_PYTHON, ZELLIK_ENV (the environment's
# folder), ZELLIK_ENV_GIVEN (1 when PYTHON's own), ZELLIK_PY (its
# interpreter), CMAKE_GENERATOR_ARGS, JOBS (parallel build jobs of every
# script: 2 unless JOBS is set); defines one_abi3_wheel.

ZELLIK_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
ZELLIK_BASE_PYTHON=${PYTHON:-python3}
if ! command -v "$ZELLIK_BASE_PYTHON" >/dev/null 2>&1; then
  echo "No Python interpreter '$ZELLIK_BASE_PYTHON': install python3 (apt-get install python3) or set PYTHON" >&2
  return 1 2>/dev/null || exit 1
fi
if "$ZELLIK_BASE_PYTHON" -c 'import sys; sys.exit(sys.prefix == sys.base_prefix)' 2>/dev/null; then
  ZELLIK_ENV=$("$ZELLIK_BASE_PYTHON" -c 'import sys; print(sys.prefix)')
  ZELLIK_ENV_GIVEN=1
else
  ZELLIK_ENV=${ZELLIK_VENV:-$ZELLIK_ROOT/.venv}
  ZELLIK_ENV_GIVEN=0
fi
ZELLIK_PY=$ZELLIK_ENV/bin/python
PATH=$ZELLIK_ENV/bin:$PATH
# pip inside the environment: no version check, no warning about root.
PIP_DISABLE_PIP_VERSION_CHECK=1
PIP_ROOT_USER_ACTION=ignore
export PATH PIP_DISABLE_PIP_VERSION_CHECK PIP_ROOT_USER_ACTION
export ZELLIK_ROOT ZELLIK_BASE_PYTHON ZELLIK_ENV ZELLIK_ENV_GIVEN ZELLIK_PY
JOBS=${JOBS:-2}
export JOBS
# A compiler cache, where installed (CI installs one): every build folder of
# every checkout on this machine shares it, and paths inside the checkout are
# hashed relative to it, so a fresh clone compiles what it has not seen only.
# A launcher set by the caller is kept (an empty one turns the cache off).
if command -v ccache >/dev/null 2>&1 && [ "${CMAKE_CXX_COMPILER_LAUNCHER-ccache}" = ccache ]; then
  CMAKE_CXX_COMPILER_LAUNCHER=ccache
  CCACHE_BASEDIR=$ZELLIK_ROOT
  CCACHE_NOHASHDIR=1
  export CMAKE_CXX_COMPILER_LAUNCHER CCACHE_BASEDIR CCACHE_NOHASHDIR
fi
if command -v ninja >/dev/null 2>&1; then
  CMAKE_GENERATOR_ARGS=(-G Ninja)
else
  CMAKE_GENERATOR_ARGS=()
fi

# Prints the one cp310-abi3 wheel of zellik_sim in folder $1 whose platform
# tag matches the pattern $2 ('*' for any); fails, naming what the folder
# holds, unless there is exactly one. $3 names the caller in the message.
one_abi3_wheel() {
  local folder=$1 platform=$2 caller=$3
  local found
  # shellcheck disable=SC2206  # the platform pattern is meant to glob
  found=("$folder"/zellik_sim-*-cp310-abi3-$platform.whl)
  if [ ${#found[@]} -ne 1 ] || [ ! -f "${found[0]}" ]; then
    echo "$caller: expected one cp310-abi3 wheel in $folder, found: $(ls "$folder")" >&2
    return 1
  fi
  echo "${found[0]}"
}
