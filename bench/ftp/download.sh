#!/bin/bash
# Downloading one large file from vsftpd: filemover's copy (binary, into a
# local directory) beside curl from the same server, in the same run, with
# hyperfine; then filemover's peak memory for a file a tenth the size, to
# show it does not grow with the file. Runs as root: the server listens on
# 127.0.0.1:21 of a network namespace of the run's own.
# Usage: bench/ftp/download.sh BIN_DIR [MEGABYTES]
set -euo pipefail
if [ "${QX_BENCH_IN_NS:-}" != 1 ]; then
  exec unshare -n env QX_BENCH_IN_NS=1 bash "$0" "$@"
fi
ip link set lo up
BIN=$(cd "${1:?bin directory}" && pwd)
MB=${2:-1024}
WORK=$(mktemp -d /tmp/qx-bench-ftpget-XXXXXX)
chmod 755 "$WORK"
export QX_HOME=$WORK/home QX_RUNTIME_DIR=$WORK/run
PID=
cleanup() {
  [ -n "$PID" ] && kill "$PID" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
mkdir "$WORK/root" "$WORK/out"
head -c "${MB}M" /dev/urandom >"$WORK/root/big.bin"
head -c "$((MB / 10))M" /dev/urandom >"$WORK/root/tenth.bin"
cat >"$WORK/vsftpd.conf" <<CONF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
background=NO
anonymous_enable=YES
anon_root=$WORK/root
no_anon_password=YES
local_enable=NO
seccomp_sandbox=NO
secure_chroot_dir=/var/run/vsftpd/empty
xferlog_enable=NO
CONF
/usr/sbin/vsftpd "$WORK/vsftpd.conf" & PID=$!
sleep 1
echo "filemover, a tenth of the file:"
"$BIN/bench_ftp_download" tenth.bin "$WORK/out" -v
rm -f "$WORK/out/tenth.bin"
echo "filemover, the whole file:"
"$BIN/bench_ftp_download" big.bin "$WORK/out" -v
cmp "$WORK/root/big.bin" "$WORK/out/big.bin"
hyperfine --warmup 1 --runs ${RUNS:-5} --prepare "rm -f $WORK/out/big.bin $WORK/out/curl.bin" \
  -n filemover "$BIN/bench_ftp_download big.bin $WORK/out" \
  -n curl "curl -s -o $WORK/out/curl.bin ftp://127.0.0.1/big.bin"
