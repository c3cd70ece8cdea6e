#!/bin/bash
# Side by side in one run, on loopback:
#  - gopher requests per second for the same text file through portwarden +
#    burrowserve and through Debian's gophernicus under openbsd-inetd (one
#    process per connection for both), with the same scripted clients;
#  - the time of a TFTP download and upload of 40 MiB through portwarden +
#    lightfiles and through Debian's tftpd-hpa under openbsd-inetd, with
#    tftp-hpa's client, in alternating rounds (medians and the rate ratio).
# Both super-servers run their daemons as system daemons do, in a session of
# their own (portwarden starts them detached; inetd is started with setsid).
# The scheduler groups processes by session: a server in the client's own
# session is woken on the client's CPU and wins about 20% on a lock-step
# transfer, which no installed server has. For comparison with earlier
# figures, tftpd-hpa also runs standalone in this script's session ("same
# session" row).
# Usage: bench/servers/gopher_tftp.sh BIN_DIR [SECONDS] [CLIENTS] [TFTP_ROUNDS]
set -euo pipefail
BIN=$(cd "${1:?bin directory}" && pwd)
SECONDS_EACH=${2:-5}
CLIENTS=${3:-4}
TFTP_ROUNDS=${4:-5}
for tool in gophernicus in.tftpd tftp inetd python3; do
  command -v $tool >/dev/null || { echo "$tool is missing: apt-get install gophernicus tftpd-hpa tftp-hpa openbsd-inetd python3" >&2; exit 1; }
done
WORK=$(mktemp -d /tmp/qx-bench-daemons-XXXXXX)
export QX_HOME=$WORK/home QX_MACHINE_DIR=$WORK/machine QX_RUNTIME_DIR=$WORK/run
GOPHER_PW=${GOPHER_PW:-24070} GOPHER_INETD=${GOPHER_INETD:-24071}
TFTP_PW=${TFTP_PW:-24069} TFTP_HPA=${TFTP_HPA:-24068} TFTP_HPA_ALONE=${TFTP_HPA_ALONE:-24067}
PIDS=()
INETD_SESSION=
cleanup() {
  # inetd's children (a tftpd-hpa waits minutes for more requests) are in its session.
  if [ -n "$INETD_SESSION" ]; then
    for p in $(ps -s "$INETD_SESSION" -o pid= 2>/dev/null); do kill "$p" 2>/dev/null || true; done
  fi
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
  for e in /proc/[0-9]*/environ; do
    if grep -qz "^QX_RUNTIME_DIR=$WORK/run\$" "$e" 2>/dev/null; then p=${e#/proc/}; kill -9 "${p%/environ}" 2>/dev/null || true; fi
  done
  rm -rf "$WORK"
}
trap cleanup EXIT

mkdir -p "$WORK/gopher" "$WORK/tftp" "$WORK/in" "$WORK/hpa-in" "$WORK/out"
head -c 4000 /dev/urandom | base64 >"$WORK/gopher/file.txt"
printf 'default 1\n' >"$WORK/GATEKEEPER.DAT"
head -c $((40 * 1024 * 1024)) /dev/urandom >"$WORK/tftp/big"
chmod -R a+rX "$WORK"
chmod a+rwx "$WORK/hpa-in" # tftpd-hpa writes as its own user

cd "$WORK"
"$BIN/pwtable" set burrowserve port=$GOPHER_PW max=16 enabled=1 "params=$WORK/gopher" >/dev/null
"$BIN/pwtable" set lightfiles port=$TFTP_PW enabled=1 "params=-r $WORK/tftp -w $WORK/in" >/dev/null
"$BIN/portwarden" & PIDS+=($!)
# -nm: no hit counts in System V shared memory (shared by every run on the
# machine; past 4,096 hits in half an hour gophernicus sleeps a second an answer).
{
  echo "127.0.0.1:$GOPHER_INETD stream tcp nowait.10000 nobody $(command -v gophernicus) gophernicus -h 127.0.0.1 -r $WORK/gopher -nv -ns -nc -no -nx -nm"
  echo "127.0.0.1:$TFTP_HPA dgram udp wait root $(command -v in.tftpd) in.tftpd -c -s $WORK/hpa-root"
} >inetd.conf
# tftpd-hpa has one root for reads and writes: the file to read is linked in.
mkdir -p "$WORK/hpa-root" && ln "$WORK/tftp/big" "$WORK/hpa-root/big" && chmod a+rwx "$WORK/hpa-root"
setsid "$(command -v inetd)" -d inetd.conf >/dev/null 2>&1 & PIDS+=($!)
INETD_SESSION=$!
in.tftpd -L -a 127.0.0.1:$TFTP_HPA_ALONE -s "$WORK/tftp" & PIDS+=($!)
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
for attempt in range(5):  # the reference answer; a busy machine may reset one
    try:
        first = one()
        break
    except OSError as e:
        if attempt == 4:
            sys.exit("the first request to port %d failed five times (%s): is the server running?" % (port, e))
        time.sleep(0.2)
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

# One transfer; prints its seconds. get: into out/; put: the file to the
# server's write directory (WRITTEN: where it lands), compared and removed.
tftp_once() { # get|put PORT NAME WRITTEN
  local start end
  start=$(date +%s.%N)
  if [ "$1" = get ]; then
    (cd "$WORK/out" && tftp -m binary 127.0.0.1 "$2" -c get big "$3" >&2)
    end=$(date +%s.%N)
    cmp -s "$WORK/tftp/big" "$WORK/out/$3" || echo "  the copy from port $2 differs!" >&2
    rm -f "$WORK/out/$3"
  else
    (cd "$WORK/tftp" && tftp -m binary 127.0.0.1 "$2" -c put big "$3" >&2)
    end=$(date +%s.%N)
    cmp -s "$WORK/tftp/big" "$4/$3" || echo "  the upload to port $2 differs!" >&2
    rm -f "$4/$3"
  fi
  python3 -c "import sys; print('%.3f' % (float(sys.argv[2]) - float(sys.argv[1])))" "$start" "$end"
}
declare -A TIMES
tftp_row() { # KEY get|put PORT NAME WRITTEN
  local t
  t=$(tftp_once "$2" "$3" "$4" "$5")
  TIMES[$1]="${TIMES[$1]:-} $t"
  printf ' %s %s' "$1" "$t"
}
echo "TFTP 40 MiB, $TFTP_ROUNDS alternating rounds (seconds per transfer):"
for round in $(seq "$TFTP_ROUNDS"); do
  printf '  round %d:' "$round"
  rows=("pw-get get $TFTP_PW pw.big -" "hpa-get get $TFTP_HPA hpa.big -" "alone-get get $TFTP_HPA_ALONE alone.big -"
    "pw-put put $TFTP_PW up.big $WORK/in" "hpa-put put $TFTP_HPA up.big $WORK/hpa-root")
  n=${#rows[@]}
  for k in $(seq 0 $((n - 1))); do
    tftp_row ${rows[$(((k + round) % n))]}
  done
  echo
done
python3 - "${TIMES[pw-get]}" "${TIMES[hpa-get]}" "${TIMES[alone-get]}" "${TIMES[pw-put]}" "${TIMES[hpa-put]}" <<'PY'
import statistics, sys
pw_get, hpa_get, alone_get, pw_put, hpa_put = (statistics.median(map(float, a.split())) for a in sys.argv[1:6])
rate = lambda t: 40 / t
print("  download: portwarden + lightfiles %.3f s (%.1f MiB/s), tftpd-hpa under openbsd-inetd %.3f s (%.1f MiB/s):"
      " %.2f of its rate" % (pw_get, rate(pw_get), hpa_get, rate(hpa_get), hpa_get / pw_get))
print("  upload:   portwarden + lightfiles %.3f s (%.1f MiB/s), tftpd-hpa under openbsd-inetd %.3f s (%.1f MiB/s):"
      " %.2f of its rate" % (pw_put, rate(pw_put), hpa_put, rate(hpa_put), hpa_put / pw_put))
print("  same session (for earlier figures): tftpd-hpa standalone in the client's session %.3f s;"
      " lightfiles at %.2f of its rate" % (alone_get, alone_get / pw_get))
PY
