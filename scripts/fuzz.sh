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
CXX="${CXX:-clang++}"
if ! command -v "$CXX" >/dev/null; then CXX=clang++-14; fi
if ! command -v "$CXX" >/dev/null; then
  echo "fuzz.sh: needs clang++ and the libFuzzer runtime (Debian: clang libclang-rt-14-dev)" >&2
  exit 2
fi

SAN="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fsanitize-ignorelist=tests/fuzz/ubsan.ignorelist"
CXXFLAGS=(-std=c++20 -O1 -g -w -fno-omit-frame-pointer -Isrc -DUTF8PROC_EXPORTS)
mkdir -p "$OUT/obj" "$OUT/bin"
# One build at a time when several runs share the folder.
exec 9>"$OUT/.build-lock"
flock 9
# Objects built with other flags or another compiler are stale.
flags="$CXX ${CXXFLAGS[*]} $SAN"
if [ "$(cat "$OUT/flags" 2>/dev/null)" != "$flags" ]; then
  rm -f "$OUT"/obj/*.o
  echo "$flags" >"$OUT/flags"
fi

# The core libraries, compiled once with coverage instrumentation (rebuilt when a source or
# any header is newer than its object).
SOURCES=(src/schema.cpp src/diagnostics.cpp src/parser/*.cpp src/validator/*.cpp)
newest_header=$(find src -name '*.hpp' -printf '%T@\n' | sort -n | tail -1)
compile() {
  local src="$1" obj="$OUT/obj/$(echo "$1" | tr / _).o"
  local obj_time=0
  [ -f "$obj" ] && obj_time=$(stat -c %Y "$obj")
  local src_time; src_time=$(stat -c %Y "$src")
  if [ "$obj_time" -le "$src_time" ] || [ "$obj_time" -le "${newest_header%.*}" ]; then
    "$CXX" "${CXXFLAGS[@]}" $SAN -fsanitize=fuzzer-no-link -c "$src" -o "$obj"
  fi
}
echo "== building the fuzz targets in $OUT"
pids=()
for src in "${SOURCES[@]}"; do
  compile "$src" &
  pids+=($!)
  if [ "${#pids[@]}" -ge 3 ]; then wait "${pids[0]}"; pids=("${pids[@]:1}"); fi
done
for pid in "${pids[@]}"; do wait "$pid"; done
objects=()
for src in "${SOURCES[@]}"; do objects+=("$OUT/obj/$(echo "$src" | tr / _).o"); done
for target in "${TARGETS[@]}"; do
  "$CXX" "${CXXFLAGS[@]}" $SAN -fsanitize=fuzzer "tests/fuzz/fuzz_$target.cpp" \
    "${objects[@]}" -lutf8proc -o "$OUT/bin/fuzz_$target"
done

flock -u 9

# Each target fuzzes into its own working corpus, seeded from the repository's corpus (which
# it never writes to).
status=0
root="$PWD"
for target in "${TARGETS[@]}"; do
  corpus="$root/$OUT/corpus/$target"
  artifacts="$root/$OUT/artifacts/$target"
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
      "bin/fuzz_$target" "${args[@]}" \
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
