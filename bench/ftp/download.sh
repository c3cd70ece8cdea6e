#!/bin/bash
# Downloading one large file from vsftpd: filemover's copy (binary, into a
# local directory) beside curl from the same server, in the same run, with
# hyperfine; then filemover's peak memory for a file a tenth the size, to
# show it does not grow with the file. Runs as root: the server listens on
# 127.0.0.1:21 of a network namespace of the run's own.
# Usage: bench/ftp/download.sh BIN_DIR [MEGABYTES]
set -euo pipefail
BENCH_NAME=ftpget
. "$(dirname "$0")/../lib/loopback.sh"
MB=${2:-1024}
mkdir "$WORK/root" "$WORK/out"
head -c "${MB}M" /dev/urandom >"$WORK/root/big.bin"
head -c "$((MB / 10))M" /dev/urandom >"$WORK/root/tenth.bin"
bench_vsftpd "$WORK/root"
echo "filemover, a tenth of the file:"
"$BIN/bench_ftp_download" tenth.bin "$WORK/out" -v
rm -f "$WORK/out/tenth.bin"
echo "filemover, the whole file:"
"$BIN/bench_ftp_download" big.bin "$WORK/out" -v
cmp "$WORK/root/big.bin" "$WORK/out/big.bin"
hyperfine --warmup 1 --runs ${RUNS:-5} --prepare "rm -f $WORK/out/big.bin $WORK/out/curl.bin" \
  -n filemover "$BIN/bench_ftp_download big.bin $WORK/out" \
  -n curl "curl -s -o $WORK/out/curl.bin ftp://127.0.0.1/big.bin"
