#!/usr/bin/env bash
# The whole test suite in a debug build with AddressSanitizer and UndefinedBehaviorSanitizer:
# set-up, configure (once), build, the C++ tests, then the Python tests against the
# instrumented extension module. Any sanitizer report fails the run.
#
#   bash scripts/test-sanitize.sh [pytest arguments]
#
# Environment: TESSARY_ASAN_BUILD_DIR (default build-asan).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
BUILD_DIR="${TESSARY_ASAN_BUILD_DIR:-build-asan}"

# b_lundef=false: the extension module leaves the sanitizer runtime's symbols to the preloaded
# library.
TESSARY_BUILD_DIR="$BUILD_DIR" bash scripts/build.sh \
  -Dbuildtype=debug -Db_sanitize=address,undefined -Db_lundef=false

# Tests that cannot run under the sanitizer look at this.
export TESSARY_SANITIZED=1
# Undefined behaviour stops the program like a memory error does.
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:abort_on_error=1:print_stacktrace=1:print_summary=1}"

echo "== C++ tests (sanitized)"
ASAN_OPTIONS="${ASAN_OPTIONS:-halt_on_error=1:abort_on_error=1:detect_stack_use_after_return=1}" \
  meson test -C "$BUILD_DIR" --no-rebuild --print-errorlogs --timeout-multiplier 4

if compgen -G "tests/python/test_*.py" >/dev/null; then
  echo "== Python tests (sanitized)"
  # The interpreter is not instrumented: the runtime is preloaded so that it comes first, and
  # leak checking is off because the interpreter keeps its objects alive at exit by design.
  # The C++ runtime is preloaded with it: the sanitizer's exception interceptor looks for the
  # real __cxa_throw when it starts and aborts at the first throw if the interpreter had not
  # loaded it yet. PYTHONMALLOC=malloc sends every Python allocation through the checked
  # allocator.
  LD_PRELOAD="$(gcc -print-file-name=libasan.so) $(g++ -print-file-name=libstdc++.so.6)" \
  ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0:halt_on_error=1:abort_on_error=1}" \
  PYTHONMALLOC=malloc \
  PYTHONPATH="$PWD/$BUILD_DIR/src/bindings" \
    .venv/bin/python -m pytest -q -p no:cacheprovider tests/python "$@"
fi
