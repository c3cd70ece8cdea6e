#!/bin/bash
# Listing a directory of 100,000 entries from vsftpd: filemover's listing
# (LIST, parse, sort as the pane shows it) beside `lftp -c "cls -l"` against
# the same server, in the same run, with hyperfine. Runs as root: the server
# listens on 127.0.0.1:21 of a network namespace of the run's own.
# Usage: bench/ftp/run.sh BIN_DIR [ENTRIES]
set -euo pipefail
BENCH_NAME=ftp
. "$(dirname "$0")/../lib/loopback.sh"
ENTRIES=${2:-100000}
mkdir "$WORK/root"
(cd "$WORK/root" && seq -f "file-%06g.txt" 1 "$ENTRIES" | xargs touch)
bench_vsftpd "$WORK/root"
"$BIN/bench_ftp_list" -v
hyperfine --warmup 1 --runs 5 \
  -n filemover "$BIN/bench_ftp_list" \
  -n lftp 'lftp -c "set cmd:cls-completion-default no; open -u anonymous,bench@ 127.0.0.1; cls -l > /dev/null"'
