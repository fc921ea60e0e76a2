#!/usr/bin/env bash
# Builds everything and runs every test. With --sanitize: the same under AddressSanitizer and
# UndefinedBehaviorSanitizer (build folder build-asan). With --fuzz SECONDS: builds the libFuzzer targets
# with clang and runs each for that many seconds on its saved corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
mode=normal
seconds=30
while [ $# -gt 0 ]; do
  case "$1" in
    --sanitize) mode=sanitize ;;
    --fuzz) mode=fuzz; seconds="${2:-30}"; shift ;;
    -h|--help) sed -n '2,4p' "$0"; exit 0 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
  shift
done
jobs=$(nproc)
case "$mode" in
  normal)
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build build -j"$jobs"
    ctest --test-dir build --output-on-failure -j"$jobs" ;;
  sanitize)
    cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKTRSVC_SANITIZE=ON -DKTRSVC_BENCH=OFF >/dev/null
    cmake --build build-asan -j"$jobs"
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      ctest --test-dir build-asan --output-on-failure -j"$jobs" ;;
  fuzz)
    CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKTRSVC_FUZZ=ON \
      -DKTRSVC_BENCH=OFF -DCMAKE_CXX_COMPILER=clang++ >/dev/null
    targets=()
    for src in tests/fuzz/*.cpp; do
      [ -e "$src" ] && targets+=("fuzz_$(basename "$src" .cpp)")
    done
    [ ${#targets[@]} -gt 0 ] && cmake --build build-fuzz -j"$jobs" --target "${targets[@]}"
    status=0
    for f in build-fuzz/tests/fuzz_*; do
      [ -x "$f" ] || continue
      name=${f##*/fuzz_}
      corpus=tests/fuzz/corpus/$name
      work=$(mktemp -d)
      echo "fuzzing $name for ${seconds}s"
      # New inputs go to the scratch folder first; the saved corpus is only read.
      if ! "$f" -max_total_time="$seconds" -print_final_stats=0 "$work" $( [ -d "$corpus" ] && echo "$corpus" ) \
          >"$work.log" 2>&1; then
        echo "fuzz target $name failed:"; tail -40 "$work.log"; status=1
      fi
      rm -rf "$work" "$work.log"
    done
    [ "$status" -eq 0 ] && echo "fuzz: all targets ran clean"
    exit "$status" ;;
esac
