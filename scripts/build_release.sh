#!/usr/bin/env bash
# Builds and checks the release artefacts in build/release:
#   dist/        the sdist and the wheel, made by `python -m build`
#   wheelhouse/  the wheel repaired by auditwheel to the manylinux tag it
#                meets (its cp310-abi3 tag kept), the one to publish
# Checks: the sdist holds the sources a build needs and, unpacked where
# Boost's headers cannot be found, stops with one line naming the package;
# `auditwheel show`, `abi3audit --strict` and `twine check --strict` pass; and the repaired wheel,
# installed into a fresh environment from local files only, with no
# compiler reachable and nothing built, passes the Python test suite.
# ZELLIK_SKIP_SETUP=1 skips the set-up (for callers that have just done it).
set -euo pipefail
cd "$(dirname "$0")/.."

[ "${ZELLIK_SKIP_SETUP:-0}" = 1 ] || bash scripts/setup_deps.sh example release
source scripts/tool_env.sh

out=build/release
rm -rf "$out"
mkdir -p "$out"
out=$(cd "$out" && pwd)

echo "== release: sdist and wheel (python -m build)"
# The build tools come from the environment (the `build` group), as in
# scripts/build_wheel.sh, so the build needs no network.
"$ZELLIK_PY" -m build --no-isolation --outdir "$out/dist" . >"$out/build.log" 2>&1 ||
  { tail -n 40 "$out/build.log" >&2; exit 1; }
sdists=("$out"/dist/zellik_sim-*.tar.gz)
[ ${#sdists[@]} -eq 1 ] && [ -f "${sdists[0]}" ] ||
  { echo "build_release.sh: expected one sdist, found: $(ls "$out/dist")" >&2; exit 1; }
sdist=${sdists[0]}
wheel=$(one_abi3_wheel "$out/dist" linux_x86_64 build_release.sh)
echo "Built $(basename "$sdist") and $(basename "$wheel")"

echo "== release: the sdist's contents, and its build without Boost"
listing=$(tar -tzf "$sdist")
for wanted in pyproject.toml CMakeLists.txt core/CMakeLists.txt python/CMakeLists.txt \
              python/zellik_sim-stubs/__init__.pyi README.md CHANGELOG.md; do
  grep -qx "zellik_sim-[^/]*/$wanted" <<<"$listing" || { echo "the sdist lacks $wanted" >&2; exit 1; }
done
if grep -qE '^zellik_sim-[^/]*/(build|\.venv|\.ci)/' <<<"$listing"; then
  echo "the sdist carries build folders or CI files" >&2; exit 1
fi
unpacked=$out/sdist-without-boost
mkdir -p "$unpacked"
tar -xzf "$sdist" -C "$unpacked"
if configure_log=$(cmake -S "$unpacked"/zellik_sim-* -B "$unpacked/build" -DZELLIK_BUILD_TESTS=OFF \
                     -DCMAKE_DISABLE_FIND_PACKAGE_Boost=ON 2>&1); then
  echo "the sdist configured without Boost" >&2; exit 1
fi
if ! grep -q "apt-get install libboost1.81-dev" <<<"$configure_log" ||
   grep -q "Could not find a package configuration file" <<<"$configure_log"; then
  echo "configuring without Boost did not name the package to install:" >&2
  echo "$configure_log" >&2; exit 1
fi
echo "Without Boost, the sdist's build stops with: $(tr -s ' \n' ' ' <<<"$configure_log" | grep -o 'zellik_sim needs Boost.*folder\.')"

echo "== release: repair the wheel (auditwheel)"
"$ZELLIK_PY" -m auditwheel show "$wheel" | tee "$out/auditwheel-show.txt"
"$ZELLIK_PY" -m auditwheel repair --wheel-dir "$out/wheelhouse" "$wheel" >"$out/auditwheel-repair.log" 2>&1 ||
  { cat "$out/auditwheel-repair.log" >&2; exit 1; }
repaired=$(one_abi3_wheel "$out/wheelhouse" 'manylinux*_x86_64' 'build_release.sh (auditwheel)')
# The repaired wheel must stand on its own: no library grafted in beside the
# module (the core needs only libstdc++, libgcc and libc), and it must still
# be consistent with its own tag.
grafted=$("$ZELLIK_PY" -c 'import sys, zipfile; print(*[n for n in zipfile.ZipFile(sys.argv[1]).namelist() if ".libs/" in n])' "$repaired")
if [ -n "$grafted" ]; then
  echo "auditwheel grafted libraries into the wheel: $grafted" >&2; exit 1
fi
"$ZELLIK_PY" -m auditwheel show "$repaired" >"$out/auditwheel-show-repaired.txt"
echo "Repaired: $(basename "$repaired")"

echo "== release: the repaired wheel's stable ABI (abi3audit) and twine check"
"$ZELLIK_PY" -m abi3audit --strict --summary "$repaired"
"$ZELLIK_PY" -m twine check --strict "$sdist" "$repaired"

echo "== release: the repaired wheel in a fresh environment with no compiler"
# Everything the fresh environment installs is fetched first, as wheels only;
# the install itself then reads local files only and may build nothing.
deps=$out/deps
mapfile -t wanted < <("$ZELLIK_PY" scripts/requirements.py runtime test)
"$ZELLIK_PY" -m pip download -q --only-binary :all: -d "$deps" "${wanted[@]}"
# Compilers that fail, first on PATH, and CC/CXX that name no compiler: any
# attempt to build something fails instead of quietly using the machine's.
shims=$out/no-compiler
mkdir -p "$shims"
for tool in cc c++ gcc g++ clang clang++ cpp ld x86_64-linux-gnu-gcc x86_64-linux-gnu-g++ cmake ninja make; do
  printf '#!/bin/sh\necho "no compiler or build tool in this environment: $0 $*" >&2\nexit 1\n' >"$shims/$tool"
  chmod +x "$shims/$tool"
done
base_python=$("$ZELLIK_PY" -c 'import sys; print(sys._base_executable)')
fresh=$out/fresh-env
"$base_python" -m venv "$fresh"
no_compiler_env=(env -u PYTHONPATH -u VIRTUAL_ENV PATH="$shims:$fresh/bin:/usr/bin:/bin" CC=false CXX=false
                 PIP_NO_INDEX=1 PIP_FIND_LINKS="$deps" PIP_ONLY_BINARY=:all: PYTHONNOUSERSITE=1)
"${no_compiler_env[@]}" "$fresh/bin/python" -m pip install -q "$repaired" "${wanted[@]}"
"${no_compiler_env[@]}" "$fresh/bin/python" - <<'PY'
import pathlib, sysconfig, zellik_sim
package = pathlib.Path(zellik_sim.__file__).resolve().parent
assert package.parent == pathlib.Path(sysconfig.get_paths()["platlib"]).resolve(), package
print(f"zellik_sim {zellik_sim.__version__} from {package}")
PY
(cd python/tests && "${no_compiler_env[@]}" "$fresh/bin/python" -m pytest -q -p no:cacheprovider .)
echo "Release artefacts: $sdist and $repaired"
