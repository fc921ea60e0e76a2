#!/usr/bin/env bash
# Builds the module and the time-server benchmark and runs it: a bare UDP echo, the module answering SNTP over
# UDP and, when it is installed, chronyd -x as a local server on loopback, side by side, printed as ratios to
# the echo. Arguments go to the benchmark (--help lists them). It never installs chrony: the package would start
# chronyd as the machine's time daemon.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target ktrsvc bench_time_servers
exec build/bench/bench_time_servers "$@"
