#!/usr/bin/env bash
# vtconsole against Debian's inetutils-telnetd, each started per connection by
# socat, inside a network namespace of the test's own (loopback only, fixed
# ports without clashes). Checks what the host sees (TERM, typed keys), the
# Part of the session a person sees (messages for a refused port, an unknown
# host and a host that closes at once) and that /once ends the program.
#
# usage: telnet_session.sh BIN_DIR
set -uo pipefail

BIN=${1:?usage: telnet_session.sh BIN_DIR}
for tool in socat unshare ip /usr/sbin/telnetd; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "FAIL: $tool is missing; install the packages of .ci/packages.d/terminal.txt (bash scripts/setup.sh)" >&2
    exit 1
  fi
done
if [ "$(id -u)" != 0 ]; then
  echo "FAIL: this test makes a network namespace and runs telnetd: run it as root" >&2
  exit 1
fi

if [ "${IN_NAMESPACE:-}" != 1 ]; then
  exec timeout -k 5 150 unshare -n env IN_NAMESPACE=1 bash "$0" "$@"
fi
ip link set lo up

WORK=$(mktemp -d)
export QX_HOME=$WORK/home QX_RUNTIME_DIR=$WORK/run QX_MACHINE_DIR=$WORK/machine
mkdir -p "$QX_HOME" "$QX_RUNTIME_DIR" "$QX_MACHINE_DIR"
chmod 700 "$QX_RUNTIME_DIR"
PIDS=()
cleanup() {
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT
FAILED=0
fail() {
  echo "FAIL: $*" >&2
  FAILED=1
}

# The host program telnetd runs in place of login: it records the terminal
# type it was given and one typed line, and answers on the screen.
cat >"$WORK/hostprog" <<EOF
#!/bin/sh
echo "TERM=\$TERM" > "$WORK/seen"
printf 'HOST-READY %s\r\n' "\$TERM"
IFS= read -r line
echo "typed=\$line" >> "$WORK/seen"
printf 'HOST-BYE\r\n'
sleep 1
EOF
chmod +x "$WORK/hostprog"

socat TCP-LISTEN:23,bind=127.0.0.1,reuseaddr,fork EXEC:"/usr/sbin/telnetd -h -E $WORK/hostprog",nofork &
PIDS+=($!)
socat TCP-LISTEN:2324,bind=127.0.0.1,reuseaddr,fork EXEC:/bin/true &
PIDS+=($!)
for _ in $(seq 50); do
  (exec 3<>/dev/tcp/127.0.0.1/23) 2>/dev/null && break
  sleep 0.1
done

wait_for() {  # wait_for SECONDS COMMAND...
  local limit=$(($1 * 10))
  shift
  for _ in $(seq "$limit"); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

# Runs vtconsole with the given words, waits for it to end, returns its status;
# its standard error (where message boxes go without a display) is in $WORK/err.
run_once() {
  local limit=$1
  shift
  (cd "$WORK" && timeout -k 2 "$limit" "$BIN/vtconsole" "$@" 2>"$WORK/err" >/dev/null)
}

# 1. A session: the host sees TERM=vt220 and the line typed into the window;
# when the host ends, /once ends the program.
(cd "$WORK" && exec "$BIN/vtconsole" /debug /once 127.0.0.1 2>"$WORK/session-err" >/dev/null) &
VT=$!
PIDS+=($VT)
if ! wait_for 20 test -s "$WORK/seen"; then
  fail "the host program never ran (telnetd did not get a session from vtconsole)"
fi
grep -qx "TERM=vt220" "$WORK/seen" 2>/dev/null || fail "the host saw $(head -1 "$WORK/seen" 2>/dev/null), not TERM=vt220"
HWND=""
wait_for 10 bash -c "'$BIN/qxauto' -p $VT find QX220 - >'$WORK/find' 2>/dev/null" && HWND=$(awk '{print $2}' "$WORK/find")
if [ -z "$HWND" ]; then
  fail "no QX220 window found through automation"
else
  "$BIN/qxauto" -p "$VT" type "$HWND" "hello vt" >/dev/null || fail "typing into the window failed"
  "$BIN/qxauto" -p "$VT" key "$HWND" 28 0 down >/dev/null && "$BIN/qxauto" -p "$VT" key "$HWND" 28 0 up >/dev/null
fi
wait_for 10 grep -q "^typed=" "$WORK/seen" || fail "the typed line never reached the host"
grep -qx "typed=hello vt" "$WORK/seen" 2>/dev/null || fail "the host got '$(grep typed= "$WORK/seen")', not 'typed=hello vt'"
if ! wait_for 15 bash -c "! kill -0 $VT 2>/dev/null"; then
  fail "vtconsole /once did not end after the host closed the connection"
fi
wait "$VT" 2>/dev/null
STATUS=$?
[ "$STATUS" = 0 ] || fail "vtconsole ended with status $STATUS: $(cat "$WORK/session-err")"
grep -q "^Connect" "$WORK/qxdebug.log" 2>/dev/null || fail "/debug wrote no socket trace to qxdebug.log"

# 2. Failures a person sees: each gives its message and the program ends.
check_message() {  # check_message TEXT WORDS...
  local text=$1
  shift
  run_once 20 /once "$@"
  local status=$?
  [ "$status" != 124 ] && [ "$status" != 137 ] || fail "vtconsole $* hung"
  grep -qF "$text" "$WORK/err" || fail "vtconsole $* did not say \"$text\"; it said: $(cat "$WORK/err")"
}
check_message "Connection refused by remote host." 127.0.0.1 /p=2
check_message "Unknown host no-such-host.invalid, try again." no-such-host.invalid
check_message "is not a port number from 1 to 65535" 127.0.0.1 /p=2324 /p=0x17

# 3. A host that closes at once: the session ends, /once closes the window.
run_once 20 /once 127.0.0.1 /p=2324
STATUS=$?
[ "$STATUS" = 0 ] || fail "vtconsole against a host that closes at once ended with status $STATUS: $(cat "$WORK/err")"

[ "$FAILED" = 0 ] && echo "PASS: telnet sessions"
exit "$FAILED"
