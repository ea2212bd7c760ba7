#!/usr/bin/env bash
# tunavox-cli.exe under Wine against the Linux tunavox-sim on a pseudo-terminal mapped
# as COM5, command by command, beside the Linux tunavox-cli against a second simulator
# in the same state: the outputs, exit statuses and the files written must be the same
# bytes (but for the port's name, the file paths and the local times).
#   cli_e2e.sh LINUX_BIN WINDOWS_BIN
set -uo pipefail
linux=$1
windows=$2
devices=$(cd "$(dirname "$0")/../../devices" && pwd)
: "${WINEPREFIX:?}"
wine=${TUNAVOX_WINE:-/usr/lib/wine/wine64}
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
failures=0

start_sims() {
  local version=$1
  kill "${pids[@]}" 2>/dev/null
  wait 2>/dev/null
  pids=()
  "$linux/tunavox-sim" --desc "$devices/NastrChP7.xml" --version "$version" --link "$work/linux-port" >/dev/null &
  pids+=($!)
  "$linux/tunavox-sim" --desc "$devices/NastrChP7.xml" --version "$version" \
    --link "$WINEPREFIX/dosdevices/com5" >/dev/null &
  pids+=($!)
  for _ in $(seq 100); do
    [ -e "$work/linux-port" ] && [ -e "$WINEPREFIX/dosdevices/com5" ] && return 0
    sleep 0.05
  done
  echo "the simulators did not start"
  exit 1
}

# Times (hh:mm:ss or dates) and the set file's header lines that name time and place.
normalise() {
  sed -E -e 's/[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}(\.[0-9]{3})?( [+-][0-9]{2}:[0-9]{2})?/TIME/g' \
    -e 's#(Z:)?[^ ;"]*/e2e-files/#FILES/#g' -e 's#[A-Z]:\\[^ ;"]*\\e2e-files\\#FILES/#g' \
    -e 's#(description|описание)\t[^\t]*#\1\tDESC#' \
    -e 's#^(COM5|/[^;]*/linux-port);#PORT;#' -e 's/;[0-9]+ мс$/;N мс/' -e 's/ за [0-9]+,[0-9] с/ за T с/' "$1"
}

# The description as a Windows user names it: drive letter and backslashes.
wdesc="Z:$(printf '%s' "$devices/NastrChP7.xml" | tr '/' '\\')"
wdevices="Z:$(printf '%s' "$devices" | tr '/' '\\')"

# run NAME ARGS...: the same command on both systems; ARGS may use @PORT@, @FILES@, @DESC@,
# @WDESC@ (the description with a Windows path on Windows) and @DEVICES@ (the folder of
# descriptions, a Windows path on Windows).
run() {
  local name=$1
  shift
  local largs=() wargs=() a
  for a in "$@"; do
    a=${a//@DESC@/$devices/NastrChP7.xml}
    local la=${a//@WDESC@/$devices/NastrChP7.xml} wa=${a//@WDESC@/$wdesc}
    la=${la//@DEVICES@/$devices}
    wa=${wa//@DEVICES@/$wdevices}
    largs+=("$(printf '%s' "$la" | sed -e "s#@PORT@#$work/linux-port#" -e "s#@FILES@#$work/linux/e2e-files#")")
    wargs+=("$(printf '%s' "$wa" | sed -e "s#@PORT@#COM5#" -e "s#@FILES@#$work/windows/e2e-files#")")
  done
  "$linux/tunavox-cli" "${largs[@]}" >"$work/$name.linux.out" 2>"$work/$name.linux.err"
  local ls=$?
  "$wine" "$windows/tunavox-cli.exe" "${wargs[@]}" >"$work/$name.windows.out" 2>"$work/$name.windows.err"
  local ws=$?
  local ok=1
  [ "$ls" = "$ws" ] || ok=0
  for stream in out err; do
    cmp -s <(normalise "$work/$name.linux.$stream") <(normalise "$work/$name.windows.$stream") || ok=0
  done
  if [ "$ok" = 1 ]; then
    echo "same: $name (status $ls, $(wc -c <"$work/$name.linux.out") bytes)"
  else
    echo "DIFFERENT: $name (status $ls / $ws)"
    diff <(normalise "$work/$name.linux.out"; normalise "$work/$name.linux.err") \
      <(normalise "$work/$name.windows.out"; normalise "$work/$name.windows.err") | head -20
    failures=$((failures + 1))
  fi
}

same_file() {
  if cmp -s <(normalise "$work/linux/e2e-files/$1") <(normalise "$work/windows/e2e-files/$1"); then
    echo "same: file $1 ($(wc -c <"$work/linux/e2e-files/$1") bytes)"
  else
    echo "DIFFERENT: file $1"
    diff <(normalise "$work/linux/e2e-files/$1") <(normalise "$work/windows/e2e-files/$1") | head -20
    failures=$((failures + 1))
  fi
}

mkdir -p "$work/linux/e2e-files" "$work/windows/e2e-files"
for version in 2 1; do
  start_sims "$version"
  common=(--desc @DESC@ --port @PORT@ --version "$version")
  run "read-v$version" read "${common[@]}"
  run "backup-v$version" backup "${common[@]}" --output "@FILES@/set-v$version.params"
  same_file "set-v$version.params"
  # The set names the description file alone, however the path was written.
  run "backup-winpath-v$version" backup --desc @WDESC@ --port @PORT@ --version "$version" \
    --output "@FILES@/setw-v$version.params"
  same_file "setw-v$version.params"
  run "write-v$version" write "${common[@]}" 0x302=45,5 0x303=7 0x305=Выбег
  run "compare-v$version" compare "${common[@]}" "@FILES@/set-v$version.params"
  run "restore-one-v$version" restore "${common[@]}" "@FILES@/set-v$version.params" 0x303
  run "restore-v$version" restore "${common[@]}" "@FILES@/set-v$version.params"
  run "compare-again-v$version" compare "${common[@]}" "@FILES@/set-v$version.params"
  run "poll-v$version" poll "${common[@]}" --count 12 --output "@FILES@/poll-v$version.csv" 0x200 0x302 0x305
  same_file "poll-v$version.csv"
  run "refused-v$version" write "${common[@]}" 0x100=1
  # A device without an ID answers every ID: the search finds it at each place it tried.
  run "scan-v$version" scan --port @PORT@ --ids 1-2 --version "$version" --gateway off \
    --descriptions @DEVICES@
done
# The adapter goes and comes back under the same name (the simulator behind COM5 ends and
# starts again): tunavox-cli.exe poll lets COM5 go, says so and polls on once it is back.
reconnect() {
  kill "${pids[@]}" 2>/dev/null
  wait 2>/dev/null
  pids=()
  local com5=$WINEPREFIX/dosdevices/com5 out=$work/reconnect.out err=$work/reconnect.err
  "$linux/tunavox-sim" --desc "$devices/NastrChP7.xml" --link "$com5" >/dev/null &
  local sim=$!
  for _ in $(seq 100); do [ -e "$com5" ] && break; sleep 0.05; done
  "$wine" "$windows/tunavox-cli.exe" poll --desc "$devices/NastrChP7.xml" --port COM5 \
    --seconds 10 0x200 0x201 >"$out" 2>"$err" &
  local poll=$!
  for _ in $(seq 200); do [ "$(wc -l <"$out")" -ge 20 ] && break; sleep 0.05; done
  kill "$sim"
  wait "$sim" 2>/dev/null
  sleep 1.5
  local before
  before=$(wc -l <"$out")
  "$linux/tunavox-sim" --desc "$devices/NastrChP7.xml" --link "$com5" >/dev/null &
  pids+=($!)
  wait "$poll"
  local status=$? failed good
  failed=$(grep -cv ';$' "$out")
  good=$(tail -n +"$((before + 1))" "$out" | grep -c ';Выходная частота \[Гц\];49.95;$')
  if [ "$status" = 1 ] && [ "$failed" = 1 ] && [ "$good" -ge 1 ] &&
    grep -q "^Связь с устройством потеряна (.*), ожидание подключения порта COM5…$" "$err" &&
    grep -q "^Связь восстановлена: порт COM5 открыт снова" "$err"; then
    echo "reconnected: poll through COM5 ($failed failed read, $good good reads after the return)"
  else
    echo "NOT RECONNECTED: status $status, $failed failed, $good good after the return"
    cat "$err"
    failures=$((failures + 1))
  fi
}
reconnect
# The line over the network: tunavox-cli.exe through Winsock to the Linux simulator's TCP
# side, beside the Linux tunavox-cli through the same address.
network() {
  kill "${pids[@]}" 2>/dev/null
  wait 2>/dev/null
  pids=()
  "$linux/tunavox-sim" --desc "$devices/NastrChP7.xml" --link "$work/net-port" \
    --tcp 127.0.0.1:0 >"$work/net.sim" &
  pids+=($!)
  for _ in $(seq 100); do [ "$(wc -l <"$work/net.sim")" -ge 2 ] && break; sleep 0.05; done
  local address
  address=$(sed -n 2p "$work/net.sim")
  "$wine" "$windows/tunavox-cli.exe" write --desc "$devices/NastrChP7.xml" --port "$address" \
    0x302=45,5 >"$work/net-write.out" 2>&1
  "$wine" "$windows/tunavox-cli.exe" read --desc "$devices/NastrChP7.xml" --port "$address" \
    >"$work/net-windows.out" 2>&1
  "$linux/tunavox-cli" read --desc "$devices/NastrChP7.xml" --port "$address" \
    >"$work/net-linux.out" 2>&1
  if grep -q '^0x302;Заданная частота \[Гц\];45.50;$' "$work/net-windows.out" &&
    grep -q 'настройки линии задаёт преобразователь' "$work/net-write.out" &&
    cmp -s <(tr -d '\r' <"$work/net-windows.out") "$work/net-linux.out"; then
    echo "network: read through $address ($(grep -c ';$' "$work/net-windows.out") values, as on Linux)"
  else
    echo "NETWORK READ DIFFERS through $address"
    cat "$work/net-write.out"
    diff <(tr -d '\r' <"$work/net-windows.out") "$work/net-linux.out" | head -20
    failures=$((failures + 1))
  fi
}
network
run "missing-port" read --desc @DESC@ --port COM9 0x100
run "usage" restore --desc @DESC@
echo "windows cli end to end: $failures difference(s)"
[ "$failures" = 0 ]
