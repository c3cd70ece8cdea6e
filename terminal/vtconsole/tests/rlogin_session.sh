#!/usr/bin/env bash
# vtconsole in rlogin mode against Debian's rlogind (rsh-redone-server) as
# root, inside a network and mount namespace of the test's own: root's home is
# a scratch folder there whose .rhosts trusts root on loopback and whose
# .profile is the host program. Checks that the log-in names and the terminal
# type arrive and that the session runs the host program.
#
# usage: rlogin_session.sh BIN_DIR
set -uo pipefail

BIN=${1:?usage: rlogin_session.sh BIN_DIR}
for tool in socat unshare ip mount /usr/sbin/in.rlogind; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "FAIL: $tool is missing; install the packages of .ci/packages.d/terminal.txt (bash scripts/setup.sh)" >&2
    exit 1
  fi
done
if [ "$(id -u)" != 0 ]; then
  echo "FAIL: rlogin needs a reserved port and this test a namespace: run it as root" >&2
  exit 1
fi

if [ "${IN_NAMESPACE:-}" != 1 ]; then
  exec timeout -k 5 90 unshare -n -m --propagation private env IN_NAMESPACE=1 bash "$0" "$@"
fi
ip link set lo up

WORK=$(mktemp -d)
export QX_HOME=$WORK/home QX_RUNTIME_DIR=$WORK/run QX_MACHINE_DIR=$WORK/machine
mkdir -p "$QX_HOME" "$QX_RUNTIME_DIR" "$QX_MACHINE_DIR" "$WORK/root"
chmod 700 "$QX_RUNTIME_DIR" "$WORK/root"
PIDS=()
cleanup() {
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  umount /root 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT
FAILED=0
fail() {
  echo "FAIL: $*" >&2
  FAILED=1
}

printf 'localhost root\n127.0.0.1 root\n' >"$WORK/root/.rhosts"
chmod 600 "$WORK/root/.rhosts"
cat >"$WORK/root/.profile" <<EOF
echo "TERM=\$TERM USER=\$(id -un)" > "$WORK/seen"
printf 'RLOGIN-HOST-RAN\r\n'
sleep 1
exit 0
EOF
mount --bind "$WORK/root" /root

socat TCP-LISTEN:513,bind=127.0.0.1,reuseaddr,fork EXEC:/usr/sbin/in.rlogind,nofork &
PIDS+=($!)
for _ in $(seq 50); do
  (exec 3<>/dev/tcp/127.0.0.1/513) 2>/dev/null && break
  sleep 0.1
done

(cd "$WORK" && USERNAME=root timeout -k 2 40 "$BIN/vtconsole" /R /once 127.0.0.1 2>"$WORK/err" >/dev/null)
STATUS=$?
[ "$STATUS" = 0 ] || fail "vtconsole /R ended with status $STATUS: $(cat "$WORK/err")"
if [ ! -s "$WORK/seen" ]; then
  fail "the host program never ran: rlogind did not log root in ($(cat "$WORK/err"))"
else
  grep -qx "TERM=vt220 USER=root" "$WORK/seen" || fail "the host saw '$(cat "$WORK/seen")', not TERM=vt220 USER=root"
fi

[ "$FAILED" = 0 ] && echo "PASS: rlogin session"
exit "$FAILED"
