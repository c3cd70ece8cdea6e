#!/bin/bash
# Opening a big folder and a big message, against reading their files alone:
# the message list's first screen of a 100,000-message folder against reading
# its index, and a 10 MB message's first page and whole display-line scan
# against reading the message file. Prints the medians and their ratios.
#   bench/mail/run_open.sh BIN_DIR [REPETITIONS]
# BIN_DIR holds mail_store_bench (a Release build with -DQX_BENCH=ON).
set -euo pipefail
bin=${1:?usage: run_open.sh BIN_DIR [REPETITIONS]}
reps=${2:-5}
if [[ ! -x $bin/mail_store_bench ]]; then
  echo "run_open.sh: $bin/mail_store_bench not found; build it with -DQX_BENCH=ON and give its directory" >&2
  exit 1
fi
out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$bin/mail_store_bench" --benchmark_filter='ReadIndexFile|FirstListScreen|WholeListOrdered|BigMessage' \
  --benchmark_repetitions="$reps" --benchmark_report_aggregates_only=true --benchmark_format=json >"$out"
python3 - "$out" <<'PY'
import json, sys
runs = {b["run_name"]: b["real_time"] for b in json.load(open(sys.argv[1]))["benchmarks"]
        if b.get("aggregate_name") == "median" and b["time_unit"] == "ms"}
def show(name, base):
    print(f"{name:32s} {runs[name]:8.3f} ms  {runs[name] / runs[base]:6.2f}x {base}")
print(f"{'BM_ReadIndexFile/100000':32s} {runs['BM_ReadIndexFile/100000']:8.3f} ms")
show("BM_FirstListScreen/100000", "BM_ReadIndexFile/100000")
show("BM_WholeListOrdered/100000", "BM_ReadIndexFile/100000")
print(f"{'BM_ReadBigMessage':32s} {runs['BM_ReadBigMessage']:8.3f} ms")
show("BM_BigMessageFirstPage", "BM_ReadBigMessage")
show("BM_BigMessageAllLines", "BM_ReadBigMessage")
PY
