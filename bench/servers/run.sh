#!/bin/bash
# Requests per second of a TCP daemon started per connection by portwarden
# (clockanswer, TCP form) and by Debian's openbsd-inetd (an equivalent trivial
# time server), in the same run; then UDP time requests answered per second.
# Usage: bench/servers/run.sh BIN_DIR [SECONDS] [CLIENTS]
set -euo pipefail
BIN=$(cd "${1:?bin directory}" && pwd)
SECONDS_EACH=${2:-5}
CLIENTS=${3:-4}
WORK=$(mktemp -d /tmp/qx-bench-servers-XXXXXX)
export QX_HOME=$WORK/home QX_MACHINE_DIR=$WORK/machine QX_RUNTIME_DIR=$WORK/run
PW_PORT=${PW_PORT:-24037}
INETD_PORT=${INETD_PORT:-24038}
UDP_PORT=${UDP_PORT:-24039}
PIDS=()
cleanup() {
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
  # the daemons of this run carry its runtime directory in their environment
  for e in /proc/[0-9]*/environ; do
    if grep -qz "^QX_RUNTIME_DIR=$WORK/run\$" "$e" 2>/dev/null; then p=${e#/proc/}; kill -9 "${p%/environ}" 2>/dev/null || true; fi
  done
  rm -rf "$WORK"
}
trap cleanup EXIT

cd "$WORK"
"$BIN/pwtable" set 12 name=clocktcp program=clockanswer proto=tcp port=$PW_PORT max=6 enabled=1 >/dev/null
"$BIN/pwtable" set clockanswer port=$UDP_PORT enabled=1 >/dev/null
"$BIN/portwarden" & PIDS+=($!)

INETD=$(command -v inetd || echo /usr/sbin/inetd)
echo "127.0.0.1:$INETD_PORT stream tcp nowait.10000 $(id -un) $BIN/bench_servers_timed bench_servers_timed" > inetd.conf
"$INETD" -d inetd.conf >/dev/null 2>&1 & PIDS+=($!)
sleep 1

echo "portwarden (one clockanswer process per connection, $CLIENTS clients):"
"$BIN/bench_servers_client" tcp $PW_PORT "$SECONDS_EACH" "$CLIENTS"
echo "openbsd-inetd (one bench_servers_timed process per connection, $CLIENTS clients):"
"$BIN/bench_servers_client" tcp $INETD_PORT "$SECONDS_EACH" "$CLIENTS"
echo "portwarden UDP time requests (one clockanswer daemon answering in turn):"
"$BIN/bench_servers_client" udp $UDP_PORT "$SECONDS_EACH"
