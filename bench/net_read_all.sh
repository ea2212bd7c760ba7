#!/usr/bin/env bash
# Read-all of the sample frequency converter (every readable row, one request each) through
# Debian's ser2net on the loopback, raw TCP and RFC 2217, against the same through the
# simulator's pseudo-terminal. Goal: through the network within 1.10 of the terminal.
# ser2net runs without its character delay (it holds each answer back a few character
# times to pack it), as a converter for request/answer lines should be set.
#   bench/net_read_all.sh [BIN] [ROUNDS]   (BIN: build/bin, ROUNDS: 20)
set -euo pipefail
bin=${1:-build/bin}
rounds=${2:-20}
chp=$bin/NastrChP7.xml
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
"$bin/tunavox-sim" --link "$work/line" --device "$chp:17" >/dev/null &
sleep 0.5
raw=$(free_port)
rfc=$(free_port)
cat >"$work/ser2net.yaml" <<YAML
connection: &raw
  accepter: tcp,127.0.0.1,$raw
  connector: serialdev,$work/line,9600n81,local
  options:
    chardelay: false
connection: &rfc
  accepter: telnet(rfc2217),tcp,127.0.0.1,$rfc
  connector: serialdev,$work/line,9600n81,local
  options:
    chardelay: false
YAML
ser2net -n -u -c "$work/ser2net.yaml" >/dev/null 2>&1 &
sleep 0.5
# One read-all: the rows it read are checked, the time is the whole command's.
run() { # PORT: seconds for ROUNDS read-alls
  local start end
  start=$(date +%s.%N)
  for _ in $(seq "$rounds"); do
    n=$("$bin/tunavox-cli" read --device "$chp:17" --port "$1" 2>/dev/null | grep -c ';;$' || true)
    [ "$n" -eq 0 ] || { echo "failed reads through $1: $n" >&2; exit 1; }
  done
  end=$(date +%s.%N)
  echo "$end - $start" | bc -l
}
pty=$(run "$work/line")
sleep 1
tcp=$(run "tcp://127.0.0.1:$raw")
sleep 1
telnet=$(run "rfc2217://127.0.0.1:$rfc")
printf 'read-all x %d through the pseudo-terminal: %.2f s\n' "$rounds" "$pty"
printf 'through ser2net, raw TCP: %.2f s (ratio %.3f)\n' "$tcp" "$(echo "$tcp / $pty" | bc -l)"
printf 'through ser2net, RFC 2217: %.2f s (ratio %.3f)\n' "$telnet" "$(echo "$telnet / $pty" | bc -l)"
echo "goal: each ratio at most 1.10"
