#!/bin/bash
# A daemon process per request: portwarden starting clockanswer against Debian's
# openbsd-inetd starting an equivalent small C server, in the same run, the two
# sides alternating over several rounds so that a change in the machine's load
# falls on both.
#   TCP: requests per second, one daemon process per connection.
#   UDP: time requests per second answered in turn by the one daemon each
#        super-server starts on the first datagram ("dgram wait" for inetd).
# Usage: bench/servers/run.sh BIN_DIR [SECONDS] [CLIENTS] [ROUNDS]
# Prints each round and the medians with portwarden's ratio to inetd.
set -euo pipefail
BIN=$(cd "${1:?bin directory}" && pwd)
SECONDS_EACH=${2:-5}
CLIENTS=${3:-4}
ROUNDS=${4:-3}
WORK=$(mktemp -d /tmp/qx-bench-servers-XXXXXX)
export QX_HOME=$WORK/home QX_MACHINE_DIR=$WORK/machine QX_RUNTIME_DIR=$WORK/run
PW_PORT=${PW_PORT:-24037}
INETD_PORT=${INETD_PORT:-24038}
UDP_PORT=${UDP_PORT:-24039}
INETD_UDP_PORT=${INETD_UDP_PORT:-24040}
PIDS=()
cleanup() {
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
  # the daemons of this run carry its runtime directory in their environment
  for e in /proc/[0-9]*/environ; do
    if grep -qz "^QX_RUNTIME_DIR=$WORK/run\$" "$e" 2>/dev/null; then p=${e#/proc/}; kill -9 "${p%/environ}" 2>/dev/null || true; fi
  done
  # inetd's UDP server of this run, by its path
  for p in $(pgrep -f "^$BIN/bench_servers_udptime" || true); do kill "$p" 2>/dev/null || true; done
  rm -rf "$WORK"
}
trap cleanup EXIT

cd "$WORK"
# Neither side has a limit the clients could reach: portwarden's most
# sessions at once, as inetd's rate limit below, is out of reach (at the
# limit portwarden closes its listener and clients are refused).
"$BIN/pwtable" set 12 name=clocktcp program=clockanswer proto=tcp port=$PW_PORT max=100000 enabled=1 >/dev/null
"$BIN/pwtable" set clockanswer port=$UDP_PORT enabled=1 >/dev/null
"$BIN/portwarden" & PIDS+=($!)

# No rate limit inetd could trip: a tripped service would stop for ten minutes.
# inetd runs in a session of its own, as installed (portwarden starts its
# daemons detached): the scheduler groups processes by session, and a server
# in the clients' session is woken on their CPU and wins on lock-step requests.
INETD=$(command -v inetd || echo /usr/sbin/inetd)
LIMIT=100000000
cat > inetd.conf <<EOF
127.0.0.1:$INETD_PORT stream tcp nowait.$LIMIT $(id -un) $BIN/bench_servers_timed bench_servers_timed
127.0.0.1:$INETD_UDP_PORT dgram udp wait.$LIMIT $(id -un) $BIN/bench_servers_udptime bench_servers_udptime
EOF
setsid "$INETD" -d -R $LIMIT inetd.conf >/dev/null 2>&1 & PIDS+=($!)
sleep 1

rate() { "$BIN/bench_servers_client" "$@" | sed -n 's/.*rate=\([0-9]*\).*/\1/p'; }
median() { printf '%s\n' "$@" | sort -n | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }

PW_TCP=() INETD_TCP=() PW_UDP=() INETD_UDP=()
echo "round  portwarden-tcp  inetd-tcp  portwarden-udp  inetd-udp   (requests/s; $CLIENTS TCP clients, ${SECONDS_EACH}s each)"
for round in $(seq 1 "$ROUNDS"); do
  if (( round % 2 )); then
    pt=$(rate tcp $PW_PORT "$SECONDS_EACH" "$CLIENTS"); it=$(rate tcp $INETD_PORT "$SECONDS_EACH" "$CLIENTS")
    pu=$(rate udp $UDP_PORT "$SECONDS_EACH"); iu=$(rate udp $INETD_UDP_PORT "$SECONDS_EACH")
  else
    it=$(rate tcp $INETD_PORT "$SECONDS_EACH" "$CLIENTS"); pt=$(rate tcp $PW_PORT "$SECONDS_EACH" "$CLIENTS")
    iu=$(rate udp $INETD_UDP_PORT "$SECONDS_EACH"); pu=$(rate udp $UDP_PORT "$SECONDS_EACH")
  fi
  PW_TCP+=("$pt") INETD_TCP+=("$it") PW_UDP+=("$pu") INETD_UDP+=("$iu")
  printf '%5d  %14s  %9s  %14s  %9s\n' "$round" "$pt" "$it" "$pu" "$iu"
done
mpt=$(median "${PW_TCP[@]}"); mit=$(median "${INETD_TCP[@]}")
mpu=$(median "${PW_UDP[@]}"); miu=$(median "${INETD_UDP[@]}")
printf 'median %14s  %9s  %14s  %9s\n' "$mpt" "$mit" "$mpu" "$miu"
awk -v a="$mpt" -v b="$mit" -v c="$mpu" -v d="$miu" \
  'BEGIN { printf "portwarden / inetd, medians: TCP %.2fx, UDP %.2fx\n", (b ? a / b : 0), (d ? c / d : 0) }'
# The two sides of one round ran under the same load: their ratio drifts less.
ratio_median() {
  local -n ours=$1 theirs=$2
  for i in "${!ours[@]}"; do awk -v a="${ours[$i]}" -v b="${theirs[$i]}" 'BEGIN { print (b ? a / b : 0) }'; done |
    sort -g | awk '{v[NR]=$1} END {printf "%.2f", (NR % 2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'
}
echo "portwarden / inetd, median of the rounds' ratios: TCP $(ratio_median PW_TCP INETD_TCP)x, UDP $(ratio_median PW_UDP INETD_UDP)x"
