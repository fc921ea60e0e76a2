#!/usr/bin/env bash
# Prepares the module's program folder for a run and prints where the console reaches the module.
# Usage: scripts/prepare-home.sh FOLDER [USER-ID]  (the user id defaults to the one running the script)
# Ports below 1024 need root, so an ordinary user's first start (no options stored yet, no ZKEntinit.ini)
# gets a ZKEntinit.ini that puts the console's port above 1023.
set -euo pipefail
home=$1
uid=${2:-$(id -u)}
user_port=11001
ini=$home/ZKEntinit.ini
hive=${KTRSVC_REGISTRY:-$home/registry.db}
reg_tool=$(dirname "$0")/../build/ktrsvc-reg
options_key='HKU\.DEFAULT\Software\VB and VBA Program Settings\Ktrsvc\Options'

mkdir -p "$home"
if [ ! -e "$hive" ] && [ ! -e "$ini" ] && [ "$uid" -ne 0 ]; then
  printf 'TCPPort,%s\r\n' "$user_port" >"$ini"
fi

# The port: the stored option once the module has run, else the initial file's, else the default.
port=""
if [ -e "$hive" ] && [ -x "$reg_tool" ]; then
  port=$(KTRSVC_HOME="$home" "$reg_tool" get "$options_key" TCPPort 2>/dev/null || true)
elif [ -e "$ini" ]; then
  port=$(grep -io 'TCPPort *, *-\?[0-9]*' "$ini" | tail -1 | sed 's/.*, *//' || true)
fi
port=${port:-1001}
[ "$port" -lt 0 ] && port=$((port + 65536))  # the option holds a signed 16-bit value

console=build/ktrsvc-console
# Without --port the console tool tries 1001, then 11001.
[ "$port" -ne 1001 ] && [ "$port" -ne "$user_port" ] && console="$console --port $port"
echo "ktrsvc serves the console on port $port of this machine; try: $console H"
if [ "$port" -lt 1024 ] && [ "$uid" -ne 0 ]; then
  echo "note: port $port is below 1024; without root the module says why it cannot listen and tries again every minute"
fi
