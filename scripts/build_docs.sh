#!/usr/bin/env bash
# Builds the documentation site into build/docs/html and checks it: the HTML
# with every warning an error (and every cross-reference resolved), the
# guides' examples as doctests, and docs/tests, which compare the reference
# with the stubs and load the start page, the reference index and one guide
# in headless Chromium (screenshots in build/docs/screenshots).
#
# The reference is read from the installed module: when the project's
# environment has none, the wheel is built and installed first
# (scripts/build_wheel.sh; run that again to document a changed checkout).
# ZELLIK_SKIP_SETUP=1 skips the set-up (for callers that have just done it).
set -euo pipefail
cd "$(dirname "$0")/.."

[ "${ZELLIK_SKIP_SETUP:-0}" = 1 ] || bash scripts/setup_deps.sh example docs
source scripts/tool_env.sh

if ! (cd /tmp && "$ZELLIK_PY" -c 'import zellik_sim') 2>/dev/null; then
  bash scripts/build_wheel.sh
fi

out=build/docs
rm -rf "$out" docs/_generated
started=$SECONDS
echo "== docs: HTML"
"$ZELLIK_PY" -m sphinx -b html -W --keep-going -n -q docs "$out/html"
echo "== docs: the guides' doctests"
"$ZELLIK_PY" -m sphinx -b doctest -W --keep-going -n -q docs "$out/doctest"
tail -n 4 "$out/doctest/output.txt"
echo "Docs built in $((SECONDS - started)) s with no warnings: $out/html/index.html"

echo "== docs: the reference against the stubs, and the pages in Chromium"
"$ZELLIK_PY" -m pytest -q -p no:cacheprovider docs/tests
echo "Screenshots: $(ls "$out"/screenshots/*.png | tr '\n' ' ')"
