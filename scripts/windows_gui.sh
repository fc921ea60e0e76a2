#!/usr/bin/env bash
# Runs the desktop window tests of the Windows build (build-win/tests/ktrsvc_gui_tests.exe) under Wine, with
# a Wine prefix of their own, on a private Xvfb display: the tray icon and its mouse messages, the menus,
# the port entry, the exit question and the service control window. The pictures of the main window and of
# the service control window are saved as PNG files in build-win/screenshots/.
#
# Usage: scripts/windows_gui.sh [--build-dir DIR] [--no-build] [-- GTEST_ARGS...]
#   --build-dir DIR  the Windows build folder (default build-win)
#   --no-build       run what is built; do not configure or build first
# Installs xvfb and wine when they are missing. Exits with the tests' status.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build-win
do_build=1
gtest_args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build="$2"; shift ;;
    --no-build) do_build=0 ;;
    --) shift; gtest_args=("$@"); break ;;
    -h|--help) sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown option: $1 (see --help)" >&2; exit 2 ;;
  esac
  shift
done

scripts/deps.sh xvfb wine wine64

if [ "$do_build" = 1 ]; then
  [ -f "$build/CMakeCache.txt" ] ||
    cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake >/dev/null
  cmake --build "$build" -j2 --target ktrsvc_gui_tests
fi
exe="$build/tests/ktrsvc_gui_tests.exe"
[ -f "$exe" ] || { echo "not built: $exe" >&2; exit 1; }

shots="$(cd "$build" && pwd)/screenshots"
mkdir -p "$shots"
export WINEPREFIX="$(cd "$build" && pwd)/wine-gui"
# A crash ends the run at once instead of waiting in the debugger.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d" LC_ALL=C.UTF-8 TZ=UTC

# Xvfb picks a free display itself and writes its number to the descriptor.
display_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$display_file" 2>/dev/null &
xvfb_pid=$!
cleanup() {
  wineserver -k 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  rm -f "$display_file"
}
trap cleanup EXIT
for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
[ -s "$display_file" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$display_file")"
echo "Xvfb on $DISPLAY, Wine prefix $WINEPREFIX"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot --init >/dev/null 2>&1 || true
  # Xvfb has no window manager: Wine draws the title bars and frames itself, as Windows does, and does
  # not wait for a manager to confirm each window it hides.
  for value in Decorated Managed; do
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v "$value" /t REG_SZ /d N /f >/dev/null 2>&1 || true
  done
  wineserver -w
fi
wineserver -p
log="$shots/ktrsvc_gui_tests.log"
rm -f "$shots"/*.png
status=0
# The first run's output goes to a file: a pipe to a new prefix can hold it up.
KTRSVC_SCREENSHOTS="$(winepath -w "$shots" 2>/dev/null)" wine "$exe" "${gtest_args[@]}" >"$log" 2>&1 || status=$?
tr -d '\r' <"$log"
echo "screenshots:"
ls -l "$shots"/*.png 2>/dev/null || echo "  (none)"
# On a display nothing may be skipped, and both pictures must be there for a person to look at.
if [ ${#gtest_args[@]} -eq 0 ]; then
  grep -q '^\[  SKIPPED \]' "$log" && { echo "tests were skipped on the display" >&2; status=1; }
  for png in main_window.png service_window.png; do
    [ -s "$shots/$png" ] || { echo "missing screenshot: $png" >&2; status=1; }
  done
fi
exit "$status"
