#!/bin/bash
# Side by side in one run, on loopback:
#  - gopher requests per second for the same text file through portwarden +
#    burrowserve and through Debian's gophernicus under openbsd-inetd (one
#    process per connection for both), with the same scripted clients;
#  - the time of one TFTP download of 40 MiB from portwarden + lightfiles and
#    from Debian's tftpd-hpa, with tftp-hpa's client.
# Usage: bench/servers/gopher_tftp.sh BIN_DIR [SECONDS] [CLIENTS]
set -euo pipefail
BIN=$(cd "${1:?bin directory}" && pwd)
SECONDS_EACH=${2:-5}
CLIENTS=${3:-4}
for tool in gophernicus in.tftpd tftp inetd python3; do
  command -v $tool >/dev/null || { echo "$tool is missing: apt-get install gophernicus tftpd-hpa tftp-hpa openbsd-inetd python3" >&2; exit 1; }
done
WORK=$(mktemp -d /tmp/qx-bench-daemons-XXXXXX)
export QX_HOME=$WORK/home QX_MACHINE_DIR=$WORK/machine QX_RUNTIME_DIR=$WORK/run
GOPHER_PW=${GOPHER_PW:-24070} GOPHER_INETD=${GOPHER_INETD:-24071}
TFTP_PW=${TFTP_PW:-24069} TFTP_HPA=${TFTP_HPA:-24068}
PIDS=()
cleanup() {
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
  for e in /proc/[0-9]*/environ; do
    if grep -qz "^QX_RUNTIME_DIR=$WORK/run\$" "$e" 2>/dev/null; then p=${e#/proc/}; kill -9 "${p%/environ}" 2>/dev/null || true; fi
  done
  rm -rf "$WORK"
}
trap cleanup EXIT

mkdir -p "$WORK/gopher" "$WORK/tftp" "$WORK/in" "$WORK/out"
head -c 4000 /dev/urandom | base64 >"$WORK/gopher/file.txt"
printf 'default 1\n' >"$WORK/GATEKEEPER.DAT"
head -c $((40 * 1024 * 1024)) /dev/urandom >"$WORK/tftp/big"
chmod -R a+rX "$WORK"

cd "$WORK"
"$BIN/pwtable" set burrowserve port=$GOPHER_PW max=16 enabled=1 "params=$WORK/gopher" >/dev/null
"$BIN/pwtable" set lightfiles port=$TFTP_PW enabled=1 "params=-r $WORK/tftp -w $WORK/in" >/dev/null
"$BIN/portwarden" & PIDS+=($!)
# -nm: no hit counts in System V shared memory (shared by every run on the
# machine; past 4,096 hits in half an hour gophernicus sleeps a second an answer).
echo "127.0.0.1:$GOPHER_INETD stream tcp nowait.10000 nobody $(command -v gophernicus) gophernicus -h 127.0.0.1 -r $WORK/gopher -nv -ns -nc -no -nx -nm" >inetd.conf
"$(command -v inetd)" -d inetd.conf >/dev/null 2>&1 & PIDS+=($!)
in.tftpd -L -a 127.0.0.1:$TFTP_HPA -s "$WORK/tftp" & PIDS+=($!)
sleep 1

gopher_rate() { # PORT SELECTOR
  python3 - "$1" "$2" "$SECONDS_EACH" "$CLIENTS" <<'PY'
import socket, sys, threading, time
port, selector, seconds, clients = int(sys.argv[1]), sys.argv[2].encode(), float(sys.argv[3]), int(sys.argv[4])
expected = None
done = [0]
bad = [0]
lock = threading.Lock()
def one():
    s = socket.create_connection(("127.0.0.1", port), timeout=10)
    s.sendall(selector + b"\r\n")
    data = b""
    while True:
        c = s.recv(65536)
        if not c:
            break
        data += c
    s.close()
    return data
first = one()
end = time.time() + seconds
def work():
    while time.time() < end:
        try:
            ok = one() == first
        except OSError:  # refused or reset while the listener is closed at its maximum
            ok = False
        with lock:
            done[0] += ok
            bad[0] += not ok
threads = [threading.Thread(target=work) for _ in range(clients)]
for t in threads: t.start()
for t in threads: t.join()
print("  %.0f requests/s (%d bytes each, %d failed or differing)" % (done[0] / seconds, len(first), bad[0]))
PY
}
echo "gopher, portwarden + burrowserve ($CLIENTS clients):"
gopher_rate $GOPHER_PW 0file.txt
echo "gopher, openbsd-inetd + gophernicus ($CLIENTS clients):"
gopher_rate $GOPHER_INETD /file.txt

tftp_time() { # PORT OUT
  local start end
  start=$(date +%s.%N)
  (cd "$WORK/out" && tftp -m binary 127.0.0.1 "$1" -c get big "$2")
  end=$(date +%s.%N)
  cmp -s "$WORK/tftp/big" "$WORK/out/$2" || echo "  the copy differs!"
  python3 -c "import sys; t=float(sys.argv[2])-float(sys.argv[1]); print('  %.2f s, %.1f MiB/s' % (t, 40/t))" "$start" "$end"
}
for round in 1 2 3; do
  echo "TFTP 40 MiB, portwarden + lightfiles (round $round):"
  tftp_time $TFTP_PW pw.big
  echo "TFTP 40 MiB, tftpd-hpa (round $round):"
  tftp_time $TFTP_HPA hpa.big
  rm -f "$WORK/out/"*.big
done
