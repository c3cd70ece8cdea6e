#!/usr/bin/env bash
# Installs what is missing, builds the suite and starts its main job: the
# super-server portwarden as the service "Q&Xportwarden" under the suite's
# service manager, with the quote (UDP 17), IEN 116 name (UDP 42) and time
# (UDP and TCP 37) daemons enabled. Ports below 1024 need root.
#
# It says "running" only when the service runs this checkout's program and
# every enabled port is open; otherwise it says what failed and exits 1.
# Running it again is harmless: a service already running this checkout's
# current program is left alone, one running another checkout's program or an
# older build of this one is stopped, pointed here and started again.
# QX_START_SKIP_BUILD=1 uses the build in BUILD_DIR as it is (tests).
set -euo pipefail
cd "$(dirname "$0")/.."
SERVICE="Q&Xportwarden"

fail() {
  echo "start.sh: $*" >&2
  exit 1
}

if [ "${QX_START_SKIP_BUILD:-}" != 1 ]; then
  bash scripts/setup.sh
  export BUILD_DIR=${BUILD_DIR:-build}
  bash scripts/build.sh -DQX_TESTS=OFF
fi
BIN=$(cd "${BUILD_DIR:-build}/bin" 2>/dev/null && pwd) || fail "no build in ${BUILD_DIR:-build}/bin; run scripts/build.sh"
for program in portwarden pwtable qxsc quipserve clockanswer nameanswer; do
  [ -x "$BIN/$program" ] || fail "$BIN/$program is missing; the build did not make it (run scripts/build.sh and read its errors)"
done
PROGRAM="$BIN/portwarden"

# The service table in the Windows directory, where the service looks for it.
"$BIN/pwtable" -w enable quipserve clockanswer nameanswer >/dev/null ||
  fail "cannot write the service table (see the message above)"
"$BIN/pwtable" -w set 12 name=timetcp program=clockanswer proto=tcp port=37 max=4 enabled=1 >/dev/null ||
  fail "cannot write the service table (see the message above)"
"$BIN/pwtable" -w logging on >/dev/null || fail "cannot write the service table (see the message above)"
windir=$(find "${QX_HOME:-$HOME/.qxtcp}/drive_c" -maxdepth 1 -iname windows 2>/dev/null | head -n 1)
if [ -n "$windir" ]; then
  jar="$windir/COOKIE.JAR"
  { [ -e "$jar" ] && cmp -s "$jar" servers/quipserve/COOKIE.JAR; } || cp servers/quipserve/COOKIE.JAR "$jar"
fi

state() { "$BIN/qxsc" query "$SERVICE" 2>/dev/null | sed -n 's/.*STATE *: *[0-9]* *\([A-Z_]*\).*/\1/p'; }
registered_program() { "$BIN/qxsc" config "$SERVICE" 2>/dev/null | sed -n 's/.*BINARY_PATH_NAME *: //p'; }

# A running portwarden whose program file was replaced by a rebuild shows it
# as deleted; one of this checkout's current build does not.
running_current_build() {
  local pid exe
  for pid in $(pgrep -x portwarden || true); do
    exe=$(readlink "/proc/$pid/exe" 2>/dev/null || true)
    [ "$exe" = "$PROGRAM" ] && return 0
  done
  return 1
}

if ! registered=$(registered_program) || [ -z "$registered" ]; then
  out=$("$BIN/qxsc" create "$SERVICE" "$PROGRAM" display="QX Portwarden" 2>&1) ||
    fail "cannot register the service \"$SERVICE\": $out"
  echo "Registered the service \"$SERVICE\" for $PROGRAM."
elif [ "$registered" != "$PROGRAM" ]; then
  echo "The service \"$SERVICE\" runs $registered; pointing it at $PROGRAM."
  if [ "$(state)" != STOPPED ]; then
    "$BIN/qxsc" stop "$SERVICE" >/dev/null || fail "cannot stop the service \"$SERVICE\" to point it here"
  fi
  out=$("$BIN/qxsc" config "$SERVICE" binpath="$PROGRAM" 2>&1) ||
    fail "cannot point the service \"$SERVICE\" at $PROGRAM: $out"
fi

if [ "$(state)" = RUNNING ]; then
  if running_current_build; then
    echo "The service \"$SERVICE\" is already running this checkout's program; left as it is."
  else
    echo "The service \"$SERVICE\" runs an older build; restarting it."
    "$BIN/qxsc" stop "$SERVICE" >/dev/null || fail "cannot stop the service \"$SERVICE\" to restart it"
  fi
fi
# The enabled ports, as the table says: "proto port name program" per line.
ports=$("$BIN/pwtable" -w list | awk 'NR > 2 && $7 == "enabled" { print $4, $5, $2, $3 }')
ss_flags() { [ "$1" = udp ] && echo -Hlnpu || echo -Hlnpt; }
short_name() { basename "$1" | cut -c1-15; } # as the system shows a process name
# Open means held by the service or by the daemon serving it now, not by
# another program that happens to have the port.
listening() { ss "$(ss_flags "$1")" "sport = :$2" 2>/dev/null | grep -q -e '"portwarden"' -e "\"$(short_name "$3")\""; }

# A UDP daemon of an earlier run keeps its port until it has been idle for
# 15 seconds: a service started meanwhile could not listen there.
wait_for_earlier_daemons() {
  local proto port name program i
  while read -r proto port name program; do
    [ -n "$proto" ] || continue
    for i in $(seq 1 200); do
      ss "$(ss_flags "$proto")" "sport = :$port" 2>/dev/null | grep -q "\"$(short_name "$program")\"" || break
      [ "$i" = 1 ] && echo "Waiting for the $name daemon of the earlier run to end (at most 15 seconds)..."
      sleep 0.1
    done
  done <<<"$ports"
}

if [ "$(state)" != RUNNING ]; then
  wait_for_earlier_daemons
  out=$("$BIN/qxsc" start "$SERVICE" 2>&1) || fail "cannot start the service \"$SERVICE\": $out"
fi

eventlog=${QX_EVENTLOG_FILE:-}
if [ -z "$eventlog" ]; then
  for dir in "${QX_MACHINE_DIR:-}" /var/lib/qxtcp "${QX_HOME:-$HOME/.qxtcp}/machine"; do
    [ -n "$dir" ] && [ -f "$dir/eventlog.txt" ] && eventlog="$dir/eventlog.txt" && break
  done
fi
missing=""
for _ in $(seq 1 50); do
  missing=""
  while read -r proto port name program; do
    [ -n "$proto" ] || continue
    listening "$proto" "$port" "$program" || missing="$missing $proto/$port($name)"
  done <<<"$ports"
  [ -z "$missing" ] && [ "$(state)" = RUNNING ] && break
  sleep 0.1
done
if [ "$(state)" != RUNNING ]; then
  fail "the service \"$SERVICE\" did not stay running (state: $(state)); see $("$BIN/qxsc" query "$SERVICE" 2>&1 | tr -s ' \n' ' ')"
fi
if [ -n "$missing" ]; then
  echo "start.sh: the service runs, but these ports are not open:$missing" >&2
  while read -r proto port name _; do
    case "$missing" in *" $proto/$port("*) ;; *) continue ;; esac
    holder=$(ss "$(ss_flags "$proto")" "sport = :$port" 2>/dev/null | grep -o 'users:.*' || true)
    if [ -n "$holder" ]; then
      echo "  $proto port $port ($name) is held by another program: $holder" >&2
    elif [ "$port" -lt 1024 ] && [ "$(id -u)" != 0 ]; then
      echo "  $proto port $port ($name) needs root" >&2
    fi
    if [ -n "$eventlog" ]; then
      grep -a "id=104 .*Bind failure on port $port," "$eventlog" | tail -n 1 | sed 's/^/  event: /' >&2 || true
    fi
  done <<<"$ports"
  echo "  Free the ports (or change them: $BIN/pwtable -w set SLOT port=N), then run scripts/start.sh again." >&2
  exit 1
fi
echo "$SERVICE is running $PROGRAM, listening on:$(echo "$ports" | awk '{ printf " %s/%s", $1, $2 }')"
echo "Stop it with: $BIN/qxsc stop \"$SERVICE\""
