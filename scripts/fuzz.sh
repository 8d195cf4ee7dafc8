#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz/ with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on) and runs each for a while, seeded with tests/fuzz/corpus/.
#
#   bash scripts/fuzz.sh [seconds-per-target]       (default 60)
#
# Environment: FUZZ_TARGETS (default "parse validate schema"), FUZZ_JOBS (parallel fuzzing
# processes per target, default 1), FUZZ_BUILD_DIR (default build-fuzz), CXX (default clang++).
# New inputs found while fuzzing go to $FUZZ_BUILD_DIR/corpus/<target>/, crash inputs to
# $FUZZ_BUILD_DIR/artifacts/<target>/; the script fails if any target found one.
set -euo pipefail
cd "$(dirname "$0")/.."

SECONDS_PER_TARGET="${1:-60}"
TARGETS=(${FUZZ_TARGETS-parse validate schema})
JOBS="${FUZZ_JOBS:-1}"
OUT="${FUZZ_BUILD_DIR:-build-fuzz}"
case "$OUT" in /*) ;; *) OUT="$PWD/$OUT" ;; esac
CXX="${CXX:-clang++}"
if ! command -v "$CXX" >/dev/null; then CXX=clang++-14; fi
if ! command -v "$CXX" >/dev/null; then
  echo "fuzz.sh: needs clang++ and the libFuzzer runtime (Debian: clang libclang-rt-14-dev)" >&2
  exit 2
fi

# The core libraries instrumented for coverage, with assertions, AddressSanitizer and
# UndefinedBehaviorSanitizer, and the fuzz targets (the `fuzzing` option of the build). The
# folder is configured once, with the compiler it was first given; one run builds at a time
# when several share it.
mkdir -p "$OUT"
exec 9>"$OUT/.build-lock"
flock 9
TESSARY_BUILD_DIR="$OUT" TESSARY_BUILD_TARGETS="${TARGETS[*]/#/tests/fuzz/fuzz_}" CXX="$CXX" \
  bash scripts/build.sh -Dfuzzing=true -Dtests=disabled -Dbenchmarks=disabled \
  -Doptimization=1 -Ddebug=true -Db_ndebug=false -Db_sanitize=address,undefined -Db_lundef=false
flock -u 9

# Each target fuzzes into its own working corpus, seeded from the repository's corpus (which
# it never writes to).
status=0
root="$PWD"
for target in "${TARGETS[@]}"; do
  corpus="$OUT/corpus/$target"
  artifacts="$OUT/artifacts/$target"
  rm -rf "$artifacts"
  mkdir -p "$corpus" "$artifacts"
  args=("$corpus")
  [ -d "tests/fuzz/corpus/$target" ] && args+=("$root/tests/fuzz/corpus/$target")
  dict="tests/fuzz/query.dict"
  [ "$target" = schema ] && dict="tests/fuzz/schema.dict"
  args+=("-dict=$root/$dict")
  # Several processes write their logs (fuzz-N.log) to the working folder.
  [ "$JOBS" -gt 1 ] && args+=("-jobs=$JOBS" "-workers=$JOBS")
  echo "== fuzz_$target for ${SECONDS_PER_TARGET}s"
  ok=1
  if ! (cd "$OUT" && ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}" \
      UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}" \
      "tests/fuzz/fuzz_$target" "${args[@]}" \
      -max_total_time="$SECONDS_PER_TARGET" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$artifacts/" -print_final_stats=1 >"fuzz_$target.log" 2>&1); then
    ok=0
  fi
  if compgen -G "$artifacts/*" >/dev/null; then
    echo "fuzz_$target: found failing inputs in $artifacts (log: $OUT/fuzz_$target.log)"
    ok=0
  elif [ "$ok" -eq 0 ]; then
    echo "fuzz_$target: failed (log: $OUT/fuzz_$target.log)"
  else
    grep -E '^#[0-9]+.*DONE' "$OUT/fuzz_$target.log" | tail -1 || true
  fi
  [ "$ok" -eq 1 ] || status=1
done
exit "$status"
