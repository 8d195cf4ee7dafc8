#!/usr/bin/env bash
# Configures (once) and builds the release tree in build/. Extra arguments go to `meson setup`.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${TESSARY_BUILD_DIR:-build}"
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
  meson setup "$BUILD_DIR" "$@" >/dev/null
fi
ninja -C "$BUILD_DIR" >/dev/null
