#!/usr/bin/env bash
# Checks the C++ code of the core, the binding, the tests and the benchmarks
# against .clang-format, and runs clang-tidy (.clang-tidy) on the core and the
# binding with the compile commands of a configured build. Fails on any
# finding. Installs clang-format and clang-tidy from Debian when missing.
#
# Usage: bash scripts/check_style.sh          check formatting and clang-tidy
#        bash scripts/check_style.sh --fix    reformat every file in place
#        bash scripts/check_style.sh --format check formatting only
#        bash scripts/check_style.sh --tidy   run clang-tidy only
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-all}
case "$mode" in all | --fix | --format | --tidy) ;; *) sed -n '2,10p' "$0" >&2; exit 2 ;; esac

[ "${ZELLIK_SKIP_SETUP:-0}" = 1 ] || bash scripts/setup_deps.sh example style
source scripts/tool_env.sh

mapfile -t sources < <(git ls-files -- 'core/*.cpp' 'core/*.h' 'python/*.cpp' 'python/*.h' 'bench/*.cpp' 'bench/*.h')

if [ "$mode" = --fix ]; then
  clang-format -i "${sources[@]}"
  echo "Reformatted ${#sources[@]} files"
  exit 0
fi

status=0
if [ "$mode" != --tidy ]; then
  echo "== style: clang-format"
  unformatted=()
  for file in "${sources[@]}"; do
    clang-format --dry-run -Werror "$file" 2>/dev/null || unformatted+=("$file")
  done
  if [ ${#unformatted[@]} -eq 0 ]; then
    echo "formatting: clean"
  else
    printf '  %s\n' "${unformatted[@]}" >&2
    echo "formatting: these ${#unformatted[@]} files differ from .clang-format (see: clang-format --dry-run FILE; fix all: bash scripts/check_style.sh --fix)" >&2
    status=1
  fi
fi

if [ "$mode" != --format ]; then
  echo "== style: clang-tidy"
  # A configure-only build tree with every target, for compile_commands.json.
  cmake -S . -B build/tidy "${CMAKE_GENERATOR_ARGS[@]}" -DCMAKE_BUILD_TYPE=Debug \
    -DZELLIK_BUILD_TESTS=ON -DZELLIK_BUILD_PYTHON=ON -DZELLIK_BUILD_BENCH=OFF \
    -DPython_EXECUTABLE="$ZELLIK_PY" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
  mapfile -t tidy_sources < <(git ls-files -- 'core/src/*.cpp' 'python/src/*.cpp')
  log=build/tidy/clang-tidy.log
  # A source clean before, exactly as it is now (with every header it
  # includes), is not checked again: see tidy_cached.py.
  if "$ZELLIK_PY" scripts/tidy_cached.py -p build/tidy --log "$log" --jobs "$JOBS" "${tidy_sources[@]}"; then
    echo "clang-tidy: clean"
  else
    # A finding in a header shows once per file that includes it: count it once.
    findings=$(grep -E '(warning|error): .*\[[a-z0-9.,-]+\]$' "$log" | sort -u || true)
    if [ -z "$findings" ]; then
      cat "$log" >&2
    else
      echo "$findings" >&2
      echo "clang-tidy: $(echo "$findings" | wc -l) findings; per check:" >&2
      echo "$findings" | grep -oE '\[[a-z0-9.,-]+\]$' | sed 's/,-warnings-as-errors//' | sort | uniq -c | sort -rn >&2
    fi
    status=1
  fi
fi
exit $status
