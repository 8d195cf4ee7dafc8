#!/usr/bin/env bash
# The main job: set up, build, then validate the bundled example queries against the bundled
# example schema, printing for each query its validity, diagnostics and fixed query.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
BUILD_DIR="${TESSARY_BUILD_DIR:-build}"
PYTHONPATH="$PWD/$BUILD_DIR/src/bindings" .venv/bin/python examples/validate_examples.py "$@"
