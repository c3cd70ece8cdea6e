#!/bin/bash
# Listing a directory of 100,000 entries from vsftpd: filemover's listing
# (LIST, parse, sort as the pane shows it) beside `lftp -c "cls -l"` against
# the same server, in the same run, with hyperfine. Runs as root: the server
# listens on 127.0.0.1:21 of a network namespace of the run's own.
# Usage: bench/ftp/run.sh BIN_DIR [ENTRIES]
set -euo pipefail
if [ "${QX_BENCH_IN_NS:-}" != 1 ]; then
  exec unshare -n env QX_BENCH_IN_NS=1 bash "$0" "$@"
fi
ip link set lo up
BIN=$(cd "${1:?bin directory}" && pwd)
ENTRIES=${2:-100000}
WORK=$(mktemp -d /tmp/qx-bench-ftp-XXXXXX)
chmod 755 "$WORK"
export QX_HOME=$WORK/home QX_RUNTIME_DIR=$WORK/run
PID=
cleanup() {
  [ -n "$PID" ] && kill "$PID" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
mkdir "$WORK/root"
(cd "$WORK/root" && seq -f "file-%06g.txt" 1 "$ENTRIES" | xargs touch)
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
"$BIN/bench_ftp_list" -v
hyperfine --warmup 1 --runs 5 \
  -n filemover "$BIN/bench_ftp_list" \
  -n lftp 'lftp -c "set cmd:cls-completion-default no; open -u anonymous,bench@ 127.0.0.1; cls -l > /dev/null"'
