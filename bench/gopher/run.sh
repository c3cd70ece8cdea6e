#!/bin/bash
# Opening a gopher menu of 20,000 items from gophernicus (socat per connection)
# and showing its first screen, as burrowview does, beside curl fetching the
# same menu, in the same run, with hyperfine. Runs as root: the server listens
# on 127.0.0.1:70 of a network namespace of the run's own.
# Usage: bench/gopher/run.sh BIN_DIR [ITEMS]
set -euo pipefail
if [ "${QX_BENCH_IN_NS:-}" != 1 ]; then
  exec unshare -n env QX_BENCH_IN_NS=1 bash "$0" "$@"
fi
ip link set lo up
BIN=$(cd "${1:?bin directory}" && pwd)
ITEMS=${2:-20000}
WORK=$(mktemp -d /tmp/qx-bench-gopher-XXXXXX)
chmod 755 "$WORK"
export QX_HOME=$WORK/home QX_RUNTIME_DIR=$WORK/run QX_DISPLAY=headless QX_AUTOMATION=0 TEMP=$WORK/tmp
mkdir -p "$WORK/root/big" "$WORK/tmp" "$WORK/run"
chmod 700 "$WORK/run"
PID=
cleanup() {
  [ -n "$PID" ] && kill "$PID" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
seq 0 $((ITEMS - 1)) | awk '{ printf "0Item %d of the big menu\t/big/item-%d.txt\t127.0.0.1\t70\r\n", $1, $1 }' \
  > "$WORK/root/big/gophermap"
chmod -R a+rX "$WORK/root"
socat TCP-LISTEN:70,bind=127.0.0.1,reuseaddr,fork \
  "EXEC:gophernicus -h 127.0.0.1 -p 70 -nf -nv -r $WORK/root,su=nobody" & PID=$!
sleep 1
QX_BENCH_VERBOSE=1 "$BIN/bench_gopher_open"
hyperfine --warmup 2 --runs 10 \
  -n burrowview "$BIN/bench_gopher_open" \
  -n curl 'curl -s gopher://127.0.0.1:70/1/big -o /dev/null'
