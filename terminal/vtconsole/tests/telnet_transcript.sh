#!/usr/bin/env bash
# The telnet negotiation vtconsole sends to Debian's inetutils-telnetd, taken
# off the wire by tshark on the loopback of a network namespace of the test's
# own, and compared with the golden transcript: every option command and
# subnegotiation, in order, one per line. The host's side is in the failure
# report for the reader, not compared (it is the server's to change).
#
# usage: telnet_transcript.sh BIN_DIR GOLDEN
# QX_UPDATE_GOLDEN=1 rewrites the golden file from this run.
set -uo pipefail

BIN=${1:?usage: telnet_transcript.sh BIN_DIR GOLDEN}
GOLDEN=${2:?usage: telnet_transcript.sh BIN_DIR GOLDEN}
for tool in socat unshare ip tshark /usr/sbin/telnetd python3; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "FAIL: $tool is missing; install the packages of .ci/packages.d/terminal.txt (bash scripts/setup.sh)" >&2
    exit 1
  fi
done
if [ "$(id -u)" != 0 ]; then
  echo "FAIL: this test makes a network namespace, captures on it and runs telnetd: run it as root" >&2
  exit 1
fi

if [ "${IN_NAMESPACE:-}" != 1 ]; then
  exec timeout -k 5 100 unshare -n env IN_NAMESPACE=1 bash "$0" "$@"
fi
ip link set lo up

WORK=$(mktemp -d)
export QX_HOME=$WORK/home QX_RUNTIME_DIR=$WORK/run QX_MACHINE_DIR=$WORK/machine
mkdir -p "$QX_HOME" "$QX_RUNTIME_DIR" "$QX_MACHINE_DIR"
chmod 700 "$QX_RUNTIME_DIR"
PIDS=()
cleanup() {
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT

wait_for() {  # wait_for SECONDS COMMAND...
  local limit=$(($1 * 10))
  shift
  for _ in $(seq "$limit"); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

# The host program says which terminal it was given and ends the session.
cat >"$WORK/hostprog" <<'EOF'
#!/bin/sh
printf 'TERM=%s\r\n' "$TERM"
sleep 1
EOF
chmod +x "$WORK/hostprog"

tshark -i lo -f "tcp port 23" -w "$WORK/telnet.pcapng" >"$WORK/tshark-out" 2>"$WORK/tshark-err" &
TSHARK=$!
PIDS+=($TSHARK)
if ! wait_for 20 grep -q "Capturing on" "$WORK/tshark-err"; then
  echo "FAIL: tshark did not start capturing on the namespace's loopback: $(cat "$WORK/tshark-err")" >&2
  exit 1
fi
socat TCP-LISTEN:23,bind=127.0.0.1,reuseaddr,fork EXEC:"/usr/sbin/telnetd -h -E $WORK/hostprog",nofork &
PIDS+=($!)
wait_for 5 bash -c "exec 3<>/dev/tcp/127.0.0.1/23" 2>/dev/null

(cd "$WORK" && timeout -k 2 30 "$BIN/vtconsole" /once 127.0.0.1 2>"$WORK/err" >/dev/null)
STATUS=$?
if [ "$STATUS" != 0 ]; then
  echo "FAIL: vtconsole /once 127.0.0.1 ended with status $STATUS: $(cat "$WORK/err")" >&2
  exit 1
fi
kill -INT "$TSHARK" 2>/dev/null
wait "$TSHARK" 2>/dev/null

# Every segment with data, in capture order: the sending port, its sequence
# number and the bytes (a retransmitted segment is dropped when decoding).
tshark -r "$WORK/telnet.pcapng" -Y "tcp.len > 0" -T fields -e tcp.srcport -e tcp.seq -e tcp.payload >"$WORK/segments" \
  2>"$WORK/tshark-read-err" || {
  echo "FAIL: tshark could not read its capture: $(cat "$WORK/tshark-read-err")" >&2
  exit 1
}
python3 - "$WORK/segments" "$WORK/ours" "$WORK/both" <<'EOF'
import sys

COMMANDS = {240: "SE", 241: "NOP", 242: "DM", 243: "BRK", 244: "IP", 245: "AO", 246: "AYT", 247: "EC", 248: "EL",
            249: "GA", 250: "SB", 251: "WILL", 252: "WONT", 253: "DO", 254: "DONT"}
OPTIONS = {0: "BINARY", 1: "ECHO", 3: "SGA", 5: "STATUS", 6: "TIMING-MARK", 24: "TTYPE", 25: "EOR", 31: "NAWS",
           32: "TSPEED", 33: "LFLOW", 34: "LINEMODE", 35: "XDISPLOC", 36: "ENVIRON", 37: "AUTHENTICATION",
           38: "ENCRYPT", 39: "NEW-ENVIRON"}


def text(data):
    out, run = [], ""
    for b in data:
        if 0x20 <= b < 0x7F and b != 0x22:
            run += chr(b)
        else:
            if run:
                out.append('"%s"' % run)
                run = ""
            out.append("<%02X>" % b)
    if run:
        out.append('"%s"' % run)
    return " ".join(out)


def decode(data):
    """Telnet commands, each on a line; data between them as text."""
    lines, i, plain = [], 0, bytearray()
    while i < len(data):
        if data[i] != 255 or i + 1 >= len(data) or data[i + 1] == 255:
            plain.append(data[i])
            i += 2 if data[i] == 255 else 1
            continue
        if plain:
            lines.append("data " + text(plain))
            plain = bytearray()
        cmd = data[i + 1]
        if cmd in (251, 252, 253, 254) and i + 2 < len(data):
            lines.append("IAC %s %s" % (COMMANDS[cmd], OPTIONS.get(data[i + 2], str(data[i + 2]))))
            i += 3
        elif cmd == 250 and i + 2 < len(data):
            end = data.find(b"\xff\xf0", i + 3)
            end = len(data) if end < 0 else end
            body = data[i + 3:end]
            kind = {0: "IS", 1: "SEND"}.get(body[0], "<%02X>" % body[0]) if body else ""
            lines.append(("IAC SB %s %s %s" % (OPTIONS.get(data[i + 2], str(data[i + 2])), kind, text(body[1:]))).rstrip()
                         + " IAC SE")
            i = end + 2
        else:
            lines.append("IAC " + COMMANDS.get(cmd, str(cmd)))
            i += 2
    if plain:
        lines.append("data " + text(plain))
    return lines


streams = {"us": bytearray(), "host": bytearray()}
next_seq = {"us": 1, "host": 1}
both = []
for line in open(sys.argv[1]):
    fields = line.strip().split("\t")
    if len(fields) != 3 or not fields[2]:
        continue
    port, seq, payload = fields
    who = "host" if port == "23" else "us"
    data = bytes.fromhex(payload.replace(":", ""))
    # Only bytes beyond what the stream already holds: retransmissions add nothing.
    skip = next_seq[who] - int(seq)
    if skip >= len(data):
        continue
    next_seq[who] = int(seq) + len(data)
    data = data[max(0, skip):]
    streams[who] += data
    both += ["%-4s %s" % (who, l) for l in decode(data)]
# Our side as one stream (segment boundaries are the kernel's, not ours); the
# host's "data" is what it printed, ours is none: only commands are sent.
with open(sys.argv[2], "w") as f:
    f.write("".join(l + "\n" for l in decode(bytes(streams["us"]))))
with open(sys.argv[3], "w") as f:
    f.write("".join(l + "\n" for l in both))
EOF

if [ "${QX_UPDATE_GOLDEN:-}" = 1 ]; then
  {
    echo "# What vtconsole sends to inetutils-telnetd in a session that types nothing,"
    echo "# taken with tshark by terminal/vtconsole/tests/telnet_transcript.sh."
    cat "$WORK/ours"
  } >"$GOLDEN"
  echo "golden transcript rewritten: $GOLDEN"
  cat "$WORK/both"
  exit 0
fi
if ! diff <(grep -v '^#' "$GOLDEN") "$WORK/ours" >"$WORK/diff"; then
  echo "FAIL: what vtconsole sent differs from the golden transcript $GOLDEN (< golden, > sent):" >&2
  cat "$WORK/diff" >&2
  echo "the whole exchange as captured:" >&2
  cat "$WORK/both" >&2
  exit 1
fi
grep -q 'data "TERM=vt220"' "$WORK/both" || {
  echo "FAIL: the host did not print TERM=vt220; the exchange was:" >&2
  cat "$WORK/both" >&2
  exit 1
}
echo "negotiation matches the golden transcript ($(grep -vc '^#' "$GOLDEN") commands)"
