#!/usr/bin/env bash
# The whole test suite: set-up, build, the C++ tests, then the Python tests against the built module.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
BUILD_DIR="${TESSARY_BUILD_DIR:-build}"

echo "== C++ tests"
# Built just above: no second look for work.
meson test -C "$BUILD_DIR" --no-rebuild --print-errorlogs

if compgen -G "tests/python/test_*.py" >/dev/null; then
  echo "== Python tests"
  PYTHONPATH="$PWD/$BUILD_DIR/src/bindings" .venv/bin/python -m pytest -q tests/python
fi
