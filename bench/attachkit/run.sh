#!/bin/bash
# Decoding and encoding a large base64 attachment: attachkit (ProcessMime and
# SendMime through the library loaded by name, files on disk) beside Python's
# base64 module on the same data (reading, converting and writing the same
# files), and attachkit's peak memory at two sizes.
# Usage: bench/attachkit/run.sh BIN_DIR [MEGABYTES]
set -euo pipefail
BIN=$(cd "${1:?bin directory}" && pwd)
MB=${2:-50}
WORK=$(mktemp -d /tmp/qx-bench-attachkit-XXXXXX)
trap 'rm -rf "$WORK"' EXIT
export QX_HOME=$WORK/home QX_RUNTIME_DIR=$WORK/run QX_DISPLAY=headless QX_AUTOMATION=0
mkdir -p "$QX_HOME" "$QX_RUNTIME_DIR" "$WORK/mail"
PY=/usr/bin/python3

# The viewer that the shell starts for the decoded picture does nothing.
"$PY" - "$QX_HOME" <<'PYEOF'
import os, sys
windows = os.path.join(sys.argv[1], "drive_c", "WINDOWS")
os.makedirs(windows, exist_ok=True)
with open(os.path.join(windows, "WIN.INI"), "w") as f:
    f.write("[Shell]\r\nOpen=/bin/true %1\r\n")
PYEOF

# A message with one image/png part of MB megabytes, base64 in 76-character
# lines as mail programs send it; the part's offsets as the mail client finds them.
make_message() {
  "$PY" - "$1" "$2" "$3" <<'PYEOF'
import base64, os, sys
size, data_path, msg_path = int(sys.argv[1]) * 1000000, sys.argv[2], sys.argv[3]
data = os.urandom(size)
open(data_path, "wb").write(data)
head = (b"MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n")
part = b"Content-Type: image/png\r\nContent-Transfer-Encoding: base64\r\n\r\n"
body = base64.encodebytes(data).replace(b"\n", b"\r\n")
with open(msg_path, "wb") as f:
    f.write(head + part + body + b"--b--\r\n")
start = len(head)
end = len(head) + len(part) + len(body) - 2
print(start, end)
PYEOF
}

run() {  # prints "seconds kilobytes"
  "$BIN/attachkit_bench" "$@"
}

for size in "$MB" $((MB / 10)); do
  read -r START END < <(make_message "$size" "$WORK/data.bin" "$WORK/msg.eml")
  rm -f "$WORK"/mail/*
  read -r DEC_S DEC_KB < <(run decode "$WORK/msg.eml" "$START" "$END" "$WORK/mail")
  cmp -s "$WORK/data.bin" "$WORK/mail/QXIMG000.png" || { echo "decoded bytes differ" >&2; exit 1; }
  cp "$WORK/data.bin" "$WORK/data.zip"
  read -r ENC_S ENC_KB < <(run encode "$WORK/data.zip" "$WORK/part.txt")
  if [ "$size" = "$MB" ]; then
    # Python: the same files read, converted and written.
    read -r PY_DEC PY_ENC PY_MEM_DEC PY_MEM_ENC < <("$PY" - "$WORK/msg.eml" "$START" "$END" "$WORK/data.zip" "$WORK" <<'PYEOF'
import base64, sys, time
msg, start, end, src, work = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4], sys.argv[5]
t = time.perf_counter()
with open(msg, "rb") as f:
    f.seek(start)
    part = f.read(end - start)
body = part[part.index(b"\r\n\r\n") + 4:]
with open(work + "/py-decoded", "wb") as f:
    f.write(base64.b64decode(body))          # the module's fastest decoder, whole in memory
dec = time.perf_counter() - t
t = time.perf_counter()
with open(src, "rb") as f:
    data = f.read()
with open(work + "/py-encoded", "wb") as f:
    f.write(base64.encodebytes(data))         # 76-character lines
enc = time.perf_counter() - t
# Python's best case: the conversion alone, data already in memory.
t = time.perf_counter()
base64.b64decode(body)
mem_dec = time.perf_counter() - t
t = time.perf_counter()
base64.encodebytes(data)
mem_enc = time.perf_counter() - t
print("%.3f %.3f %.3f %.3f" % (dec, enc, mem_dec, mem_enc))
PYEOF
)
    BIG_DEC_S=$DEC_S BIG_DEC_KB=$DEC_KB BIG_ENC_S=$ENC_S BIG_ENC_KB=$ENC_KB
  else
    SMALL_DEC_KB=$DEC_KB SMALL_ENC_KB=$ENC_KB
  fi
done

rate() { "$PY" -c "print('%.0f' % ($MB / $1))"; }
ratio() { "$PY" -c "print('%.2f' % ($1 / $2))"; }
echo "decode $MB MB base64 attachment: attachkit $BIG_DEC_S s ($(rate "$BIG_DEC_S") MB/s), python base64.b64decode $PY_DEC s ($(rate "$PY_DEC") MB/s): attachkit $(ratio "$PY_DEC" "$BIG_DEC_S")x python's rate"
echo "encode $MB MB attachment:        attachkit $BIG_ENC_S s ($(rate "$BIG_ENC_S") MB/s), python base64.encodebytes $PY_ENC s ($(rate "$PY_ENC") MB/s): attachkit $(ratio "$PY_ENC" "$BIG_ENC_S")x python's rate"
echo "python's conversion alone, in memory: b64decode $PY_MEM_DEC s, encodebytes $PY_MEM_ENC s: attachkit (with its file I/O) $(ratio "$PY_MEM_DEC" "$BIG_DEC_S")x and $(ratio "$PY_MEM_ENC" "$BIG_ENC_S")x"
echo "peak memory (resident KB) decode: $BIG_DEC_KB at $MB MB, $SMALL_DEC_KB at $((MB / 10)) MB; encode: $BIG_ENC_KB at $MB MB, $SMALL_ENC_KB at $((MB / 10)) MB"
