#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks for one or more purposes, and
# makes the project's Python environment (see scripts/tool_env.sh) with the
# Python packages those purposes need. Safe to run again: it skips what is
# there, and reaches PyPI only when pyproject.toml's requirements changed.
#
# Usage: bash scripts/setup_deps.sh PURPOSE...
#   example  build and run the example: a C++ compiler, Boost's header-only
#            containers (the engine's flat maps), the build tools and the
#            package's own dependencies
#   tests    everything scripts/run_tests.sh and the README's benchmarks use:
#            GoogleTest, Google Benchmark, Graphviz (the tests render DOT
#            pictures), abseil and robin-map (the benchmark that compares
#            hash maps) and the `test` extra as well
#   style    clang-format and clang-tidy for scripts/check_style.sh, and
#            GoogleTest (its clang-tidy configure includes the tests)
#   fuzz     clang with libFuzzer and the sanitizer runtimes for
#            scripts/fuzz.sh
#   coverage clang, its profile tools and GoogleTest for scripts/coverage.sh
#   ci       what .ci/run adds: the `ci` extra
#   docs     what scripts/build_docs.sh uses: the `docs` extra, the `test`
#            extra (pytest runs the site's checks), Graphviz (the example's
#            pictures) and Chromium (the check of the pages)
#   release  what scripts/build_release.sh uses: the `release` extra
# System packages are installed with apt-get when run as root; otherwise the
# script names them and stops.
set -euo pipefail
source "$(dirname "$0")/tool_env.sh"
cd "$ZELLIK_ROOT"

[ $# -gt 0 ] || set -- tests

# What each purpose needs, said once: its Debian packages and its groups of
# Python packages (scripts/requirements.py reads them from pyproject.toml).
# Every purpose needs what `example` needs.
declare -A apt_for python_for
apt_for[example]="g++ libboost1.81-dev"
python_for[example]="build runtime"
apt_for[tests]="libgtest-dev libbenchmark-dev graphviz libabsl-dev robin-map-dev"
python_for[tests]="test"
# clang-tidy reads the compile commands of a build that has the tests too.
apt_for[style]="clang-format clang-tidy libgtest-dev"
python_for[style]=""
apt_for[fuzz]="clang-14 libclang-rt-14-dev libfuzzer-14-dev"
python_for[fuzz]=""
apt_for[coverage]="clang-14 llvm-14 libgtest-dev"
python_for[coverage]=""
# CI builds the same sources in several folders and clones: a compiler cache.
apt_for[ci]="${apt_for[tests]} ccache"
python_for[ci]="test ci"
apt_for[docs]="graphviz chromium fonts-dejavu-core"
python_for[docs]="docs test"
apt_for[release]=""
python_for[release]="release test"

apt_packages=()
python_groups=()
for purpose in example "$@"; do
  if [ -z "${apt_for[$purpose]+set}" ]; then
    echo "setup_deps.sh: unknown purpose '$purpose' (example, tests, style, fuzz, coverage, ci, docs, release)" >&2
    exit 2
  fi
  read -ra more <<<"${apt_for[$purpose]}"
  apt_packages+=("${more[@]+"${more[@]}"}")
  read -ra more <<<"${python_for[$purpose]}"
  python_groups+=("${more[@]+"${more[@]}"}")
done
mapfile -t python_groups < <(printf '%s\n' "${python_groups[@]}" | awk 'NF && !seen[$0]++')

# The project-local environment is made once from the base interpreter, and
# made again when the base interpreter changed since.
make_env=0
if [ "$ZELLIK_ENV_GIVEN" = 0 ]; then
  base_executable=$("$ZELLIK_BASE_PYTHON" -c 'import os, sys; print(os.path.realpath(sys.executable))')
  if [ ! -x "$ZELLIK_PY" ] || [ "$(cat "$ZELLIK_ENV/.zellik-base" 2>/dev/null)" != "$base_executable" ]; then
    make_env=1
  fi
fi
# A base interpreter that cannot make environments (Debian's python3 without
# python3-venv) needs its -venv package.
if [ "$make_env" = 1 ] && ! "$ZELLIK_BASE_PYTHON" -c 'import ensurepip, venv' >/dev/null 2>&1; then
  apt_packages+=("$("$ZELLIK_BASE_PYTHON" -c 'import sys; print("python%d.%d-venv" % sys.version_info[:2])')")
fi

missing=()
# Off Debian there is no package list to consult: the build names what lacks.
command -v dpkg-query >/dev/null 2>&1 || apt_packages=()
for package in "${apt_packages[@]+"${apt_packages[@]}"}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$package")
done
# Deduplicate, keeping order.
mapfile -t missing < <(printf '%s\n' "${missing[@]+"${missing[@]}"}" | awk 'NF && !seen[$0]++')
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
    echo "Installing ${missing[*]} from Debian's packages"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  else
    echo "Missing system packages: ${missing[*]}" >&2
    echo "Install them as root, then run this again:  apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
fi

if [ "$make_env" = 1 ]; then
  echo "Making the Python environment $ZELLIK_ENV from $base_executable"
  "$ZELLIK_BASE_PYTHON" -m venv --clear "$ZELLIK_ENV"
  echo "$base_executable" >"$ZELLIK_ENV/.zellik-base"
fi

# The Python packages, installed again only when what is wanted changed.
mapfile -t wanted < <("$ZELLIK_PY" scripts/requirements.py "${python_groups[@]}")
stamp_file=$ZELLIK_ENV/.zellik-requirements
stamp=$(printf '%s\n' "${wanted[@]}" | sort)
have=$(cat "$stamp_file" 2>/dev/null || true)
if [ -n "$(comm -23 <(echo "$stamp") <(echo "$have" | sort))" ]; then
  echo "Installing into $ZELLIK_ENV from PyPI: ${wanted[*]}"
  "$ZELLIK_PY" -m pip install -q "${wanted[@]}"
  printf '%s\n' "$stamp" "$have" | awk 'NF' | sort -u >"$stamp_file"
fi
