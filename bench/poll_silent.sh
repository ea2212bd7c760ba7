#!/usr/bin/env bash
# tunavox-cli poll over the devices of one line when one of them is silent: the reads per
# second of the two live devices with and without a third that never answers (it rests
# alone, its probes spaced out). Goal: with the silent one, within 0.9 of the rate without.
#   bench/poll_silent.sh [BIN] [SECONDS]   (BIN: build/bin, SECONDS: 60)
set -euo pipefail
bin=${1:-build/bin}
seconds=${2:-60}
chp=$bin/NastrChP7.xml
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
link=$work/line
"$bin/tunavox-sim" --link "$link" --device "$chp:17" --device "$chp:200" >/dev/null &
sleep 0.5
live=(--device "$chp:17" --device "$chp:200")
rate() { # FILE: reads per second of the live devices
  awk -F';' -v s="$seconds" '$2 == 17 || $2 == 200 { n++ } END { printf "%.1f", n / s }' "$1"
}
"$bin/tunavox-cli" poll --port "$link" "${live[@]}" --seconds "$seconds" 0x302 >"$work/alone" 2>/dev/null || true
"$bin/tunavox-cli" poll --port "$link" "${live[@]}" --device "$chp:9" --seconds "$seconds" 0x302 \
  >"$work/silent" 2>/dev/null || true
alone=$(rate "$work/alone")
with=$(rate "$work/silent")
probes=$(awk -F';' '$2 == 9 { n++ } END { print n + 0 }' "$work/silent")
echo "live devices alone: $alone reads/s"
echo "with a silent third: $with reads/s ($probes probes of the silent one in $seconds s)"
awk -v a="$alone" -v b="$with" 'BEGIN { printf "ratio: %.3f (goal: at least 0.9)\n", b / a }'
