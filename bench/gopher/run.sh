#!/bin/bash
# Opening a gopher menu of 20,000 items from gophernicus (socat per connection)
# and showing its first screen, as burrowview does, beside curl fetching the
# same menu, in the same run, with hyperfine. Runs as root: the server listens
# on 127.0.0.1:70 of a network namespace of the run's own.
# Usage: bench/gopher/run.sh BIN_DIR [ITEMS]
set -euo pipefail
BENCH_NAME=gopher
. "$(dirname "$0")/../lib/loopback.sh"
ITEMS=${2:-20000}
export QX_DISPLAY=headless QX_AUTOMATION=0 TEMP=$WORK/tmp
mkdir -p "$WORK/root/big" "$WORK/tmp" "$WORK/run"
chmod 700 "$WORK/run"
seq 0 $((ITEMS - 1)) | awk '{ printf "0Item %d of the big menu\t/big/item-%d.txt\t127.0.0.1\t70\r\n", $1, $1 }' \
  > "$WORK/root/big/gophermap"
chmod -R a+rX "$WORK/root"
# -nm: gophernicus keeps no hit counts in System V shared memory, which every
# run on the machine shares and which, past 4,096 hits in half an hour, makes
# it sleep a second before each answer.
bench_server socat TCP-LISTEN:70,bind=127.0.0.1,reuseaddr,fork \
  "EXEC:gophernicus -h 127.0.0.1 -p 70 -nf -nv -nm -r $WORK/root,su=nobody"
QX_BENCH_VERBOSE=1 "$BIN/bench_gopher_open"
hyperfine --warmup 2 --runs 10 \
  -n burrowview "$BIN/bench_gopher_open" \
  -n curl 'curl -s gopher://127.0.0.1:70/1/big -o /dev/null'
