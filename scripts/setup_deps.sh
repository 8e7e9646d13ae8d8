#!/usr/bin/env bash
# Installs what a fresh machine lacks to build and test zellik_sim:
# a C++ compiler, CMake and Ninja, GoogleTest (and Google Benchmark), Boost's
# headers (the flat hash maps), and the Python packages the tests use. Safe to
# run again: it skips what is there.
set -euo pipefail

PYTHON=${PYTHON:-python3}

need_apt=()
command -v g++ >/dev/null 2>&1 || need_apt+=(g++)
[ -f /usr/include/gtest/gtest.h ] || need_apt+=(libgtest-dev)
[ -f /usr/include/benchmark/benchmark.h ] || need_apt+=(libbenchmark-dev)
[ -f /usr/include/boost/unordered/unordered_flat_map.hpp ] || need_apt+=(libboost1.81-dev)
if [ ${#need_apt[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null 2>&1; then
    echo "Installing ${need_apt[*]} from Debian's packages"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need_apt[@]}" >/dev/null
  else
    echo "Missing system packages: ${need_apt[*]} (install them, e.g. with apt-get)" >&2
    exit 1
  fi
fi

pip_missing=()
for module_and_package in "pytest:pytest" "mypy:mypy" "ulid:python-ulid" "cmake:cmake" "ninja:ninja"; do
  module=${module_and_package%%:*}
  package=${module_and_package#*:}
  "$PYTHON" -c "import $module" >/dev/null 2>&1 || pip_missing+=("$package")
done
if [ ${#pip_missing[@]} -gt 0 ]; then
  echo "Installing ${pip_missing[*]} from PyPI"
  "$PYTHON" -m pip install -q --disable-pip-version-check "${pip_missing[@]}"
fi
