#!/usr/bin/env bash
# scripts/start.sh against the build under test, in a network namespace of its
# own (ports 17, 37 and 42 without clashes) with private directories: it says
# "running" only when every enabled port is open, says so again harmlessly,
# names the program that holds a port it needs and exits 1, and the service it
# starts serves quotes that differ.
# Usage: start_script_test.sh SOURCE_DIR BUILD_DIR
set -u
if [ "${1:-}" != inside ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "start_script_test: needs root for a network namespace and ports below 1024; skipped" >&2
    exit 77
  fi
  exec timeout 150 unshare -n bash "$0" inside "$@"
fi
source_dir=$2
build_dir=$3
ip link set lo up
scratch=$(mktemp -d /tmp/qx-start-XXXXXX)
export QX_HOME=$scratch/home QX_MACHINE_DIR=$scratch/machine QX_RUNTIME_DIR=$scratch/run
export QX_EVENTLOG_FILE=$scratch/events.txt QX_START_SKIP_BUILD=1 BUILD_DIR=$build_dir
mkdir -p "$QX_HOME/drive_c/WINDOWS"
qxsc=$build_dir/bin/qxsc
holder=""
finish() {
  [ -n "$holder" ] && kill "$holder" 2>/dev/null
  "$qxsc" stop "Q&Xportwarden" >/dev/null 2>&1
  rm -rf "$scratch"
}
trap finish EXIT
failures=0
check() { # check WHAT CONDITION...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else
    echo "FAILED: $what"
    failures=$((failures + 1))
  fi
}
cd "$source_dir"

out=$(bash scripts/start.sh 2>&1)
rc=$?
check "first start succeeds" [ $rc = 0 ]
check "first start lists the ports" grep -q "listening on: udp/17 udp/37 udp/42 tcp/37" <<<"$out"

out=$(bash scripts/start.sh 2>&1)
rc=$?
check "second start succeeds" [ $rc = 0 ]
check "second start says it changed nothing" grep -q "already running this checkout's program" <<<"$out"

q1=$(echo | timeout 3 nc -u -w1 127.0.0.1 17)
q2=$(echo | timeout 3 nc -u -w1 127.0.0.1 17)
q3=$(echo | timeout 3 nc -u -w1 127.0.0.1 17)
check "quotes are served" [ -n "$q1" ]
check "successive quotes differ" bash -c '[ "$1" != "$2" ] || [ "$2" != "$3" ]' _ "$q1" "$q2" "$q3"

"$qxsc" stop "Q&Xportwarden" >/dev/null
python3 -c 'import socket,time; s=socket.socket(socket.AF_INET,socket.SOCK_DGRAM); s.bind(("0.0.0.0",42)); time.sleep(300)' &
holder=$!
for _ in $(seq 1 50); do ss -Hlnu 'sport = :42' | grep -q . && break; sleep 0.1; done
out=$(bash scripts/start.sh 2>&1)
rc=$?
check "a port held by another program fails the start" [ $rc = 1 ]
check "the missing port is named" grep -q "these ports are not open: udp/42(nameanswer)" <<<"$out"
check "the holder is named" grep -q "held by another program: users:((\"python3\"" <<<"$out"
check "no false success" bash -c '! grep -q "is running" <<<"$1"' _ "$out"
[ $failures = 0 ] || { echo "$out"; exit 1; }
