#!/usr/bin/env bash
# Configures (once) and builds the release tree in build/. Extra arguments go to `meson setup`.
# Environment: TESSARY_BUILD_DIR (default build), TESSARY_BUILD_TARGETS (ninja targets to build,
# default all).
#
# Says nothing when the tree is up to date. Otherwise it shows the build's progress (on one
# line on a terminal, a line per quarter of the build elsewhere) and the whole output of a step
# that fails; compiler warnings are only counted. Everything ninja printed is kept in
# $BUILD_DIR/meson-logs/build-output.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${TESSARY_BUILD_DIR:-build}"
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
  echo "build: configuring $BUILD_DIR"
  setup_log="$(mktemp)"
  if ! meson setup "$BUILD_DIR" "$@" >"$setup_log" 2>&1; then
    cat "$setup_log" >&2
    rm -f "$setup_log"
    exit 1
  fi
  rm -f "$setup_log"
fi

log="$BUILD_DIR/meson-logs/build-output.txt"
terminal=0
[ -t 1 ] && terminal=1
# shellcheck disable=SC2086  # the targets are a list of words
ninja -C "$BUILD_DIR" ${TESSARY_BUILD_TARGETS:-} 2>&1 | tee "$log" |
  awk -v terminal="$terminal" -v dir="$BUILD_DIR" -v logfile="$log" '
  # A step: "[done/total] description". The lines after "FAILED:" up to the next step are the
  # failed command and its output.
  match($0, /^\[[0-9]+\/[0-9]+\] /) {
    split(substr($0, 2, RLENGTH - 3), n, "/")
    if (n[2] != total) { total = n[2]; quarter = 0 }  # a new count after regenerating
    if (!started) { print "build: building in " dir "/ ..."; started = 1 }
    if (terminal) {
      printf "\rbuild: %d/%d", n[1], n[2]; fflush(); shown = 1
    } else if (int(4 * n[1] / n[2]) > quarter) {
      quarter = int(4 * n[1] / n[2]); print "build: " n[1] "/" n[2]
    }
    failing = 0
    next
  }
  /^FAILED: / { failing = 1; if (shown) { printf "\n"; shown = 0 } }
  failing || /^ninja: build stopped/ { print; next }
  /warning:/ { warnings++ }
  END {
    if (shown) printf "\n"
    if (warnings) print "build: " warnings " compiler warning(s), see " logfile
  }'
