# Sourced by the build scripts: puts the Python environment's own scripts
# (cmake, ninja and the like installed with pip) on PATH, and picks Ninja as
# the CMake generator when it is there.
PYTHON=${PYTHON:-python3}
PATH="$("$PYTHON" -c 'import sysconfig; print(sysconfig.get_path("scripts"))'):$PATH"
export PATH
if command -v ninja >/dev/null 2>&1; then
  CMAKE_GENERATOR_ARGS=(-G Ninja)
else
  CMAKE_GENERATOR_ARGS=()
fi
