#!/usr/bin/env bash
# Memory-growth check of every Python entry point: set-up, build, then scripts/leakcheck.py
# against the built module. Usage: bash scripts/leakcheck.sh [iterations] [leakcheck.py options]
# (default one million iterations per entry point).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
BUILD_DIR="${TESSARY_BUILD_DIR:-build}"
ITERATIONS="${1:-1000000}"
[ "$#" -gt 0 ] && shift
PYTHONPATH="$PWD/$BUILD_DIR/src/bindings" exec .venv/bin/python scripts/leakcheck.py \
  --iterations "$ITERATIONS" "$@"
