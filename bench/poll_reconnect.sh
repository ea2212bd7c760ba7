#!/usr/bin/env bash
# tunavox-cli poll while the adapter is pulled out (the simulator ends) and plugged in
# again under the same name: the CPU time poll used while it waited, and the time from
# the device's return to the first good read. Targets: near idle, under 2 s.
#   bench/poll_reconnect.sh [BIN]   (BIN: build/bin)
set -euo pipefail
bin=${1:-build/bin}
desc=$bin/NastrChP7.xml
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
link=$work/dev
"$bin/tunavox-sim" --link "$link" --desc "$desc" >/dev/null &
sim=$!
sleep 0.5
"$bin/tunavox-cli" poll --desc "$desc" --port "$link" --seconds 12 0x200 >"$work/out" 2>"$work/err" &
poll=$!
sleep 2
kill $sim
wait $sim 2>/dev/null || true
sleep 0.3
ticks() { awk '{print $14 + $15}' "/proc/$poll/stat"; }
before=$(ticks)
sleep 5
after=$(ticks)
hz=$(getconf CLK_TCK)
lines=$(wc -l <"$work/out")
returned=$(date +%s.%N)
"$bin/tunavox-sim" --link "$link" --desc "$desc" >/dev/null &
# The first good read after the return: the first new line with a value.
while [ "$(tail -n +"$((lines + 1))" "$work/out" | grep -c ';49.95;$')" = 0 ]; do sleep 0.005; done
good=$(date +%s.%N)
wait $poll || true
awk -v t=$((after - before)) -v hz="$hz" 'BEGIN { printf "poll while waiting: %.2f %% of one core\n", 100 * t / hz / 5 }'
awk -v a="$returned" -v b="$good" 'BEGIN { printf "device back to first good read: %d ms\n", (b - a) * 1000 }' 
cat "$work/err"
