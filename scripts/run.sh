#!/usr/bin/env bash
# Builds the module and runs it in the foreground with the given command words (e.g. "debug").
# The program folder (options, logs, registry.db) is KTRSVC_HOME, by default ./run-home; it prints the
# port the console reaches the module on.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target ktrsvc ktrsvc-reg ktrsvc-console 2>/dev/null \
  || cmake --build build -j"$(nproc)" --target ktrsvc
export KTRSVC_HOME="${KTRSVC_HOME:-$PWD/run-home}"
scripts/prepare-home.sh "$KTRSVC_HOME"
exec build/ktrsvc "$@"
