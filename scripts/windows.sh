#!/usr/bin/env bash
# Cross-builds the module, its tools and its tests for 64-bit Windows with mingw-w64 (build folder build-win),
# then runs the unit and end-to-end suites under Wine, headless, in a fresh Wine prefix that is removed again.
# Installs mingw-w64 and Wine from Debian when they are missing.
#   --build-only   build, run nothing
#   --test-only    run the suites on what build-win holds
#   --keep-prefix  leave the Wine prefix (its path is printed) for a look afterwards
# Exits non-zero when the build fails or any test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
build=1 test=1 keep=0
while [ $# -gt 0 ]; do
  case "$1" in
    --build-only) test=0 ;;
    --test-only) build=0 ;;
    --keep-prefix) keep=1 ;;
    -h|--help) sed -n '2,8p' "$0"; exit 0 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
  shift
done
jobs=$(nproc)

# The environment first: Wine and the programs it starts take their locale and zone from it.
export LC_ALL=C.UTF-8 TZ=UTC

if [ "$build" -eq 1 ]; then
  scripts/deps.sh cmake ninja-build googletest mingw-w64 wine wine64
  cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake >/dev/null
  cmake --build build-win -j"$jobs"
fi
[ "$test" -eq 1 ] || exit 0

# A prefix of our own: no Mono or Gecko installers, no debug chatter, no window.
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/ktrsvc-wine.XXXXXX")
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
export KTRSVC_SIMULATE=clock,power
unset DISPLAY WAYLAND_DISPLAY
logs=build-win/wine-logs
rm -rf "$logs" && mkdir -p "$logs"
finish() {
  # Only this prefix's server: other Wine users on the machine keep theirs.
  wineserver -k 2>/dev/null || true
  if [ "$keep" -eq 1 ]; then echo "Wine prefix kept: $WINEPREFIX"; else rm -rf "$WINEPREFIX"; fi
}
trap finish EXIT

# The prefix is made by one run whose output goes to a file (a first run on a pipe can hang on its output).
# wineboot goes on finishing the prefix after it returns: the server is made persistent only once all of
# that has ended, or the service manager may lose what it is given later.
echo "Preparing the Wine prefix $WINEPREFIX"
timeout 600 wine wineboot --init >"$logs/warm-up.log" 2>&1 || { echo "wineboot failed:"; tail -20 "$logs/warm-up.log"; }
timeout 300 wineserver -w || true
wineserver -p
timeout 120 wine build-win/tests/ktrsvc_tests.exe --gtest_list_tests >"$logs/list.log" 2>&1 || true

status=0
# The Windows service test first and alone: it installs a service on Wine's service manager, which loses a
# new service when many programs come and go beside it.
started=$(date +%s)
KTRSVC_NT_SERVICE_TEST=1 timeout 600 wine build-win/tests/ktrsvc_e2e_tests.exe --gtest_filter='NtServiceE2E.*' \
  >"$logs/nt-service.log" 2>&1 || status=$?
echo "=== Windows service under Wine's service manager ($(( $(date +%s) - started )) s)"
tr -d '\r' <"$logs/nt-service.log" | grep -E '^\[ +(OK|FAILED|SKIPPED) +\]|Failure|Expected|Which is|actual' || true
grep -q '^\[ *OK \] NtServiceE2E' "$logs/nt-service.log" || status=1

# One Wine process per test (listed when ctest starts, through Wine), so that a hang or a crash costs one
# test; the end-to-end tests run one at a time.
started=$(date +%s)
# Under Wine a test program now and then fails to start at all (no output, 0.01 s): one more try each.
timeout 2400 ctest --test-dir build-win --output-on-failure --repeat until-pass:2 -j"$jobs" >"$logs/ctest.log" 2>&1 || status=$?
echo "=== Windows suites under Wine ($(( $(date +%s) - started )) s; full output in $logs/ctest.log)"
# ctest's own summary: the count, the tests that failed and those skipped.
sed -n '/tests passed, /,$p' "$logs/ctest.log"
if [ "$status" -ne 0 ]; then
  grep -E '\*\*\*(Failed|Timeout|Exception)|Not Run' "$logs/ctest.log" || true
  [ "$status" -eq 124 ] && echo "the suites ran out of time"
  exit 1
fi
grep -q 'tests passed, ' "$logs/ctest.log" || { echo "no tests ran"; tail -30 "$logs/ctest.log"; exit 1; }
