# Sourced by the benchmarks that measure a program against a server on
# loopback, at the top of the script (after set -euo pipefail, with
# BENCH_NAME set):
#   - runs the script again inside a network namespace of its own (as root),
#     so the server can listen on its usual port of 127.0.0.1 without clashes;
#   - BIN: the build's bin directory (the first argument) as an absolute path;
#   - WORK: a scratch folder, with QX_HOME and QX_RUNTIME_DIR in it;
#   - bench_server CMD...: starts the server in the background;
#   - bench_vsftpd ROOT: vsftpd serving ROOT to anonymous users;
#   - bench_hide FILE: FILE is absent for the rest of the run (and only for it);
#   - on exit, however the script ends, the server is stopped and WORK removed.
if [ "${QX_BENCH_IN_NS:-}" != 1 ]; then
  exec unshare -n -m --propagation private env QX_BENCH_IN_NS=1 bash "$0" "$@"
fi
ip link set lo up
BIN=$(cd "${1:?usage: $0 BIN_DIR, the bin directory of a build}" && pwd)
WORK=$(mktemp -d "/tmp/qx-bench-${BENCH_NAME:?set BENCH_NAME before sourcing loopback.sh}-XXXXXX")
chmod 755 "$WORK"
export QX_HOME=$WORK/home QX_RUNTIME_DIR=$WORK/run
BENCH_SERVER_PID=
BENCH_HIDDEN=()
bench_cleanup() {
  if [ -n "$BENCH_SERVER_PID" ]; then kill "$BENCH_SERVER_PID" 2>/dev/null || true; fi
  for dir in "${BENCH_HIDDEN[@]}"; do umount -l "$dir" 2>/dev/null || true; done
  rm -rf "$WORK"
}
trap bench_cleanup EXIT

# Hides a file from every program of the run: its folder is overlaid, in the
# run's own mount namespace, with a layer where the file is deleted.
bench_hide() {
  [ -e "$1" ] || return 0
  local dir layer
  dir=$(dirname "$1")
  layer=$(mktemp -d "$WORK/hide-XXXXXX")
  mkdir "$layer/upper" "$layer/work"
  mknod "$layer/upper/$(basename "$1")" c 0 0
  mount -t overlay overlay -o "lowerdir=$dir,upperdir=$layer/upper,workdir=$layer/work" "$dir"
  BENCH_HIDDEN+=("$dir")
}

# Starts a server in the background and gives it a second to listen.
bench_server() {
  "$@" &
  BENCH_SERVER_PID=$!
  sleep 1
}

# vsftpd on 127.0.0.1:21, anonymous users only, serving the folder ROOT.
bench_vsftpd() {
  cat >"$WORK/vsftpd.conf" <<CONF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
background=NO
anonymous_enable=YES
anon_root=$1
no_anon_password=YES
local_enable=NO
seccomp_sandbox=NO
secure_chroot_dir=/var/run/vsftpd/empty
xferlog_enable=NO
CONF
  bench_server /usr/sbin/vsftpd "$WORK/vsftpd.conf"
}
