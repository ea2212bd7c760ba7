#!/usr/bin/env bash
# Runs a Windows test program under Wine with the Linux simulator serving COM5.
#   run_with_sim.sh LINUX_BIN WINE PROGRAM [ARGS...]
set -uo pipefail
linux=$1
wine=$2
shift 2
devices=$(cd "$(dirname "$0")/../../devices" && pwd)
: "${WINEPREFIX:?}"
"$linux/tunavox-sim" --desc "$devices/NastrChP7.xml" --link "$WINEPREFIX/dosdevices/com5" >/dev/null &
sim=$!
trap 'kill $sim 2>/dev/null; wait 2>/dev/null' EXIT
for _ in $(seq 100); do
  [ -e "$WINEPREFIX/dosdevices/com5" ] && break
  sleep 0.05
done
"$wine" "$@"
