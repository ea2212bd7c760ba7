#!/usr/bin/env bash
# tunavox-cli poll over the devices of one line when one of them is silent: the reads per
# second of the two live devices with and without a third that never answers (after its
# first unanswered read it is probed with a short window and rests alone). The rate with
# the silent one is taken over every 30 s window starting from the first second on;
# goal: the lowest within 0.97 of the rate without it.
#   bench/poll_silent.sh [BIN] [SECONDS]   (BIN: build/bin, SECONDS: 45, at least 32)
set -euo pipefail
bin=${1:-build/bin}
seconds=${2:-45}
chp=$bin/NastrChP7.xml
buk=$bin/NastrBUK2.xml
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
link=$work/line
"$bin/tunavox-sim" --link "$link" --device "$chp:17" --device "$chp:200" >/dev/null &
sleep 0.5
live=(--device "$chp:17" --device "$chp:200")
# Reads of the live devices per second in each 30 s window from second FROM on; prints
# the lowest.
lowest() { # FILE
  awk -F';' -v total="$seconds" '
    function t(s,  a) { split(substr(s, 12, 12), a, ":"); return a[1] * 3600 + a[2] * 60 + a[3] }
    NR > 1 { x = t($1); if (start == "") start = x
             if ($2 == 17 || $2 == 200) { at[n++] = x - start } }
    END { best = -1
          for (from = 1; from + 30 <= total - 1; from++) {
            c = 0; for (i = 0; i < n; i++) if (at[i] >= from && at[i] < from + 30) c++
            if (best < 0 || c / 30 < best) best = c / 30 }
          printf "%.1f", best }' "$1"
}
"$bin/tunavox-cli" poll --port "$link" "${live[@]}" --seconds "$seconds" 0x302 >"$work/alone" 2>/dev/null || true
# The silent third is of the other type: the line's time-out is the longer of the two.
"$bin/tunavox-cli" poll --port "$link" "${live[@]}" --device "$buk:9" --seconds "$seconds" 0x302 0x20 \
  >"$work/silent" 2>/dev/null || true
alone=$(lowest "$work/alone")
with=$(lowest "$work/silent")
probes=$(awk -F';' '$2 == 9 { n++ } END { print n + 0 }' "$work/silent")
echo "live devices alone: $alone reads/s (lowest 30 s window from the first second)"
echo "with a silent third: $with reads/s ($probes probes of the silent one in $seconds s)"
awk -v a="$alone" -v b="$with" 'BEGIN { printf "ratio: %.3f (goal: at least 0.97)\n", b / a }'
