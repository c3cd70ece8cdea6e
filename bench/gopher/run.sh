#!/bin/bash
# Opening a gopher menu of 20,000 items from gophernicus (socat per connection)
# and showing its first screen, as burrowview does, beside curl fetching the
# same menu, in the same run, with hyperfine: ROUNDS rounds (default 10) that
# each time both sides three times, one after the other, so that the load of a
# shared machine falls on both alike; the medians and their ratio at the end.
# Runs as root: the server listens on 127.0.0.1:70 of a network namespace of
# the run's own.
# Usage: bench/gopher/run.sh BIN_DIR [ITEMS]
set -euo pipefail
BENCH_NAME=gopher
. "$(dirname "$0")/../lib/loopback.sh"
ITEMS=${2:-20000}
ROUNDS=${ROUNDS:-10}
export QX_DISPLAY=headless QX_AUTOMATION=0 TEMP=$WORK/tmp
mkdir -p "$WORK/root/big" "$WORK/tmp" "$WORK/run"
chmod 700 "$WORK/run"
seq 0 $((ITEMS - 1)) | awk '{ printf "0Item %d of the big menu\t/big/item-%d.txt\t127.0.0.1\t70\r\n", $1, $1 }' \
  > "$WORK/root/big/gophermap"
chmod -R a+rX "$WORK/root"
# gophernicus names the system in its answers by running lsb_release, a
# shell script of some twenty processes, for every connection when it is
# installed: a second per request on a loaded machine, which would hide both
# clients' own time. The run hides it, so the server answers as it does
# without that package.
bench_hide /usr/bin/lsb_release
# -nm: gophernicus keeps no hit counts in System V shared memory, which every
# run on the machine shares and which, past 4,096 hits in half an hour, makes
# it sleep a second before each answer.
bench_server socat TCP-LISTEN:70,bind=127.0.0.1,reuseaddr,fork \
  "EXEC:gophernicus -h 127.0.0.1 -p 70 -nf -nv -nm -r $WORK/root,su=nobody"
QX_BENCH_VERBOSE=1 "$BIN/bench_gopher_open"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for round in $(seq "$ROUNDS"); do
  hyperfine -N --warmup 1 --runs 3 --export-json "$WORK/round-$round.json" \
    -n burrowview "$BIN/bench_gopher_open" \
    -n curl "curl -s gopher://127.0.0.1:70/1/big -o /dev/null" >/dev/null
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
python3 - "$WORK" "$ROUNDS" <<'PY'
import json, statistics, sys
work, rounds = sys.argv[1], int(sys.argv[2])
times = {}
for r in range(1, rounds + 1):
    for result in json.load(open(f"{work}/round-{r}.json"))["results"]:
        times.setdefault(result["command"], []).extend(result["times"])
median = {name: statistics.median(t) for name, t in times.items()}
for name, t in times.items():
    print(f"{name:10s} median {median[name] * 1000:7.1f} ms over {len(t)} runs")
print(f"ratio burrowview / curl: {median['burrowview'] / median['curl']:.2f}")
PY
