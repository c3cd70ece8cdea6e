#!/bin/bash
# A 50 MB text file sent by `cat` on the host through telnet, into vtconsole
# and into xterm running Debian's telnet client, in one run under Xvfb. Both
# talk to the same inetutils-telnetd (started per connection by socat) inside
# a network namespace of this run's own. Reports for each: the wall time until
# the session ended, the CPU time of the client's processes, and how many
# distinct frames reached the X server per second while the flood ran (the
# frame buffer that Xvfb maps into a file is sampled every 5 ms).
#
# Usage (as root): bench/terminal/flood.sh BIN_DIR [MEGABYTES]
# Build BIN_DIR as Release: cmake -DQX_BENCH=ON -DCMAKE_BUILD_TYPE=Release ...
set -uo pipefail
BIN=$(cd "${1:?usage: flood.sh BIN_DIR [MEGABYTES]}" && pwd)
MB=${2:-50}
for tool in Xvfb xterm telnet socat /usr/sbin/telnetd unshare python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "flood.sh: $tool is missing (apt-get install xvfb xterm inetutils-telnet socat inetutils-telnetd time)" >&2; exit 1; }
done
[ "$(id -u)" = 0 ] || { echo "flood.sh: run as root (network namespace, telnetd)" >&2; exit 1; }
if [ "${IN_NAMESPACE:-}" != 1 ]; then
  exec unshare -n env IN_NAMESPACE=1 bash "$0" "$@"
fi
ip link set lo up

WORK=$(mktemp -d /tmp/qx-flood-XXXXXX)
export QX_HOME=$WORK/home QX_RUNTIME_DIR=$WORK/run QX_MACHINE_DIR=$WORK/machine
mkdir -p "$QX_HOME" "$QX_RUNTIME_DIR" "$QX_MACHINE_DIR" "$WORK/fb"
chmod 700 "$QX_RUNTIME_DIR"
PIDS=()
cleanup() {
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT

# The text: lines of varying length and content, as a log or a listing has.
python3 - "$WORK/flood.txt" "$MB" <<'EOF'
import sys
out, size = open(sys.argv[1], "w"), int(sys.argv[2]) * 1024 * 1024
words = "alpha beta gamma delta epsilon zeta eta theta iota kappa lambda mu".split()
i = n = 0
while n < size:
    line = "%08d %s\n" % (i, " ".join(words[(i + k) % len(words)] for k in range(i % 9 + 1)))
    out.write(line)
    n += len(line)
    i += 1
EOF
printf '#!/bin/sh\nstty -onlcr 2>/dev/null\nexec cat %s\n' "$WORK/flood.txt" >"$WORK/host"
chmod +x "$WORK/host"
socat TCP-LISTEN:23,bind=127.0.0.1,reuseaddr,fork EXEC:"/usr/sbin/telnetd -h -E $WORK/host",nofork &
PIDS+=($!)

DISPLAY_NUMBER=77
Xvfb :$DISPLAY_NUMBER -screen 0 1280x1024x24 -fbdir "$WORK/fb" -nolisten tcp >/dev/null 2>&1 &
PIDS+=($!)
export DISPLAY=:$DISPLAY_NUMBER
for _ in $(seq 50); do [ -s "$WORK/fb/Xvfb_screen0" ] && break; sleep 0.1; done
sleep 0.5

# frames.py PID: distinct frame-buffer contents per second while PID runs.
cat >"$WORK/frames.py" <<'EOF'
import hashlib, mmap, os, sys, time
pid, fb = int(sys.argv[1]), sys.argv[2]
f = open(fb, "rb")
m = mmap.mmap(f.fileno(), 0, access=mmap.ACCESS_READ)
last, changes, first, end = None, 0, None, None
while True:
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        break
    h = hashlib.blake2b(m[:], digest_size=16).digest()
    now = time.monotonic()
    if h != last:
        if last is not None:
            changes += 1
            first = first or now
            end = now
        last = h
    time.sleep(0.005)
span = (end - first) if first and end and end > first else 0
print("%.1f" % (changes / span if span else 0))
EOF

# run NAME COMMAND...: wall seconds, CPU seconds of the process tree, frames per second.
run() {
  local name=$1
  shift
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null 2>"$WORK/$name.err" &
  local pid=$!
  python3 "$WORK/frames.py" "$pid" "$WORK/fb/Xvfb_screen0" >"$WORK/$name.fps" &
  local sampler=$!
  wait "$pid"
  end=$(date +%s.%N)
  wait "$sampler"
  python3 -c 'import sys; w = float(sys.argv[3]) - float(sys.argv[2]); print("%-26s %7.2f s wall %6.1f MB/s %6s frames/s" % (sys.argv[1], w, float(sys.argv[4]) / w, sys.argv[5]))' \
    "$name" "$start" "$end" "$MB" "$(cat "$WORK/$name.fps")"
}

echo "cat of $MB MB through telnet (same telnetd, same Xvfb):"
run "vtconsole (80x24)" env QX_DISPLAY=sdl SDL_VIDEODRIVER=x11 "$BIN/vtconsole" /once 127.0.0.1
run "xterm + telnet (80x24)" xterm -geometry 80x25 -e telnet 127.0.0.1 23
echo "CPU (user+system, whole run, from /usr/bin/time):"
/usr/bin/time -f "  vtconsole: %U s user, %S s system, %M KB peak" env QX_DISPLAY=sdl SDL_VIDEODRIVER=x11 \
  "$BIN/vtconsole" /once 127.0.0.1 2>&1 >/dev/null | tail -1
/usr/bin/time -f "  xterm (with its telnet child): %U s user, %S s system, %M KB peak" \
  xterm -geometry 80x25 -e telnet 127.0.0.1 23 2>&1 >/dev/null | tail -1
