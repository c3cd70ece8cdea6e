#!/bin/bash
# POP retrieval of N messages (2 KB to 200 KB, mixed) from Debian's dovecot:
# the mail client into its store, getmail6 into a Maildir (its own Maildir
# destination) and fetchmail into a Maildir (through a small delivery script
# that writes, fsyncs and renames each message, no SMTP), all from the same
# server in one run, with each side's time and peak memory (GNU time's maximum
# resident set size). Every side fsyncs each message before it counts it.
#
# getmail6 (6.18) delivers each message from a child process and sets up its
# wait for the child only after forking: a child that ends first leaves it
# waiting until its time-out, and it stops with "operation error (waiting
# child pid N timed out)". Its time-out is 10 s here, every side runs on one
# processor (see CPU below), and a side that stops short is run again from
# the start (at most three attempts, each reported).
#
# The machine may be busy with other work: the sides run in ROUNDS rounds
# (default 2), each round in a rotated order, each run into an empty
# destination, and a rate ratio is taken within each round, from runs close in
# time. Needs root (dovecot hands the mailbox to "nobody") and the packages
# dovecot-pop3d, getmail6 and fetchmail.
# Usage: [ROUNDS=R] [CPU=K] bench/mail/run_pop.sh BIN_DIR [N] [ONLY]
#   ONLY: client, getmail or fetchmail runs that side alone (memory of large runs).
set -euo pipefail
BIN=$(cd "${1:?bin directory}" && pwd)
N=${2:-10000}
ONLY=${3:-}
ROUNDS=${ROUNDS:-2}
[ "$(id -u)" = 0 ] || { echo "run_pop.sh: needs root to start dovecot; run it with sudo" >&2; exit 1; }
for tool in /usr/sbin/dovecot getmail fetchmail /usr/bin/time setpriv taskset; do
  command -v "$tool" > /dev/null || { echo "run_pop.sh: $tool is missing; install dovecot-pop3d, getmail6, fetchmail and time" >&2; exit 1; }
done
case "$ONLY" in ""|client|getmail|fetchmail) ;; *) echo "run_pop.sh: ONLY is client, getmail or fetchmail, not $ONLY" >&2; exit 2 ;; esac
WORK=$(mktemp -d /tmp/qx-bench-pop-XXXXXX)
chmod 755 "$WORK"
DOVECOT_PID=
cleanup() {
  [ -n "$DOVECOT_PID" ] && kill "$DOVECOT_PID" 2>/dev/null && wait "$DOVECOT_PID" 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT
PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
MAILDIR=$WORK/users/alice/Maildir
mkdir -p "$MAILDIR"/{new,cur,tmp}
echo 'alice:{PLAIN}secret::::::' > "$WORK/passwd"
cat > "$WORK/dovecot.conf" <<CONF
protocols = pop3
listen = 127.0.0.1
base_dir = $WORK/run
state_dir = $WORK/state
log_path = $WORK/dovecot.log
ssl = no
disable_plaintext_auth = no
mail_location = maildir:$WORK/users/%u/Maildir
pop3_uidl_format = %08Xu%08Xv
default_internal_user = dovecot
default_login_user = dovenull
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u $WORK/passwd
}
userdb {
  driver = static
  args = uid=65534 gid=65534 home=$WORK/users/%u
}
service pop3-login {
  inet_listener pop3 {
    port = $PORT
  }
  inet_listener pop3s {
    port = 0
  }
}
CONF
# Messages of 2 KB to 200 KB (sizes spread evenly on a log scale), CR LF lines.
python3 - "$MAILDIR/new" "$N" <<'PY'
import os, random, sys
d, n = sys.argv[1], int(sys.argv[2])
rnd = random.Random(21)
for i in range(n):
    size = int(2000 * (100 ** rnd.random()))
    head = ("From: Sender %d <s%d@example.com>\r\nTo: <alice@example.com>\r\nSubject: message %d\r\n"
            "Date: Tue, 5 Dec 1995 14:30:00 GMT\r\nMessage-ID: <m%d@example.com>\r\n\r\n" % (i, i, i, i))
    line = "".join(rnd.choice("abcdefghij .") for _ in range(70))
    body = (line + "\r\n") * (size // 72 + 1)
    with open(os.path.join(d, "%d.bench" % i), "w", newline="") as f:
        f.write(head + body[:size])
PY
chown -R 65534:65534 "$WORK/users"
/usr/sbin/dovecot -F -c "$WORK/dovecot.conf" &
DOVECOT_PID=$!
for _ in $(seq 100); do
  python3 -c "import socket; socket.create_connection(('127.0.0.1', $PORT)).close()" 2>/dev/null && break
  sleep 0.1
done
TOTAL=$(du -sb "$MAILDIR/new" | cut -f1)
echo "$N messages, $((TOTAL / 1000000)) MB in dovecot's Maildir; $ROUNDS round(s), sides in rotated order"

# fetchmail's delivery: one message from standard input into the Maildir
# given, written under tmp/, fsynced, then renamed into new/.
cat > "$WORK/maildir-mda" <<'MDA'
#!/bin/sh
set -e
t=$(mktemp "$1/tmp/m.XXXXXXXXXX")
cat > "$t"
sync "$t"
mv "$t" "$1/new/${t##*/}"
MDA
chmod 755 "$WORK/maildir-mda"

export QX_DISPLAY=headless QX_AUTOMATION=0
AS_NOBODY=(setpriv --reuid=65534 --regid=65534 --clear-groups)
# Every side is sequential; each runs on the same one processor (CPU, default
# the last), which keeps a forked child from running before its parent
# waits for it.
CPU=${CPU:-$(($(nproc) - 1))}
ON_CPU=(taskset -c "$CPU")

# Each side: run once into an empty destination; prints "SECONDS PEAK_KB
# USER_SECONDS SYSTEM_SECONDS COUNT" (processor time includes the children).
run_client() {
  local dest=$WORK/round/ours
  mkdir -p "$dest"
  /usr/bin/time -f "%e %M %U %S" -o "$WORK/round/time" "${ON_CPU[@]}" "$BIN/mail_pop_fetch" "$PORT" "$dest" alice secret \
    > "$WORK/round/count" 2> "$WORK/round/client.err" || echo 0 > "$WORK/round/count"
  echo "$(tail -1 "$WORK/round/time") $(cat "$WORK/round/count")"
}
run_getmail() {
  local dir=$WORK/round/getmail
  mkdir -p "$dir/Maildir"/{new,cur,tmp}
  cat > "$dir/getmailrc" <<RC
[retriever]
type = SimplePOP3Retriever
server = 127.0.0.1
port = $PORT
username = alice
password = secret
timeout = 10
[destination]
type = Maildir
path = $dir/Maildir/
[options]
read_all = true
delete = false
message_log_syslog = false
RC
  # getmail refuses to deliver as root: it runs as "nobody", which owns its directory.
  chown -R 65534:65534 "$dir"
  /usr/bin/time -f "%e %M %U %S" -o "$WORK/round/time" \
    "${ON_CPU[@]}" "${AS_NOBODY[@]}" getmail --getmaildir "$dir" --rcfile getmailrc --quiet > "$WORK/round/getmail.err" 2>&1 || true
  echo "$(tail -1 "$WORK/round/time") $(find "$dir/Maildir/new" -type f | wc -l)"
}
run_fetchmail() {
  local dir=$WORK/round/fetchmail
  mkdir -p "$dir/Maildir"/{new,cur,tmp}
  cat > "$dir/fetchmailrc" <<RC
set no syslog
poll 127.0.0.1 with protocol POP3 and port $PORT:
  user "alice" there with password "secret" is "nobody" here
  options keep fetchall no rewrite sslproto "" mda "$WORK/maildir-mda $dir/Maildir"
RC
  chmod 600 "$dir/fetchmailrc"
  chown -R 65534:65534 "$dir"
  /usr/bin/time -f "%e %M %U %S" -o "$WORK/round/time" \
    "${ON_CPU[@]}" env HOME="$dir" "${AS_NOBODY[@]}" fetchmail --nodetach --silent --fetchmailrc "$dir/fetchmailrc" \
    --idfile "$dir/fetchids" --pidfile "$dir/fetchmail.pid" 2> "$WORK/round/fetchmail.err" || true
  echo "$(tail -1 "$WORK/round/time") $(find "$dir/Maildir/new" -type f | wc -l)"
}

SIDES=(client getmail fetchmail)
[ -n "$ONLY" ] && SIDES=("$ONLY")
declare -A NAME=([client]="mail client" [getmail]="getmail6" [fetchmail]="fetchmail")
RESULTS=$WORK/results
: > "$RESULTS"
for round in $(seq "$ROUNDS"); do
  count=${#SIDES[@]}
  for i in $(seq 0 $((count - 1))); do
    side=${SIDES[$(((i + round - 1) % count))]}
    for attempt in 1 2 3; do
      rm -rf "$WORK/round"
      mkdir -p "$WORK/round"
      secs=0 kb=0 user=0 sys=0 got=0
      read -r secs kb user sys got < <("run_$side") || true
      [ "$got" = "$N" ] && break
      echo "run_pop.sh: ${NAME[$side]} stored $got of $N messages in round $round (attempt $attempt); its errors:" >&2
      cat "$WORK/round/"*.err 2>/dev/null | tail -5 >&2
      [ "$attempt" = 3 ] && exit 1
      echo "run_pop.sh: running ${NAME[$side]} again from the start" >&2
    done
    cpu=$(awk "BEGIN { print $user + $sys }")
    printf "round %d  %-12s %6d messages in %8.2f s (%7.1f messages/s), processor %7.2f s, peak %7d KB\n" \
      "$round" "${NAME[$side]}" "$got" "$secs" "$(awk "BEGIN { print $N / $secs }")" "$cpu" "$kb"
    echo "$round $side $secs $kb $cpu" >> "$RESULTS"
  done
done
rm -rf "$WORK/round"

# Per side: the median time and the largest peak; per peer: the rate ratio of
# each round (peer time / client time) and their median.
python3 - "$RESULTS" "$N" <<'PY'
import statistics, sys
rows = [line.split() for line in open(sys.argv[1])]
n = int(sys.argv[2])
names = {"client": "mail client", "getmail": "getmail6", "fetchmail": "fetchmail"}
by = {}
for r, side, secs, kb, cpu in rows:
    by.setdefault(side, {})[int(r)] = (float(secs), int(kb), float(cpu))
for side, runs in by.items():
    t = statistics.median(s for s, _, _ in runs.values())
    c = statistics.median(c for _, _, c in runs.values())
    print("%-12s median %.2f s (%.1f messages/s), processor %.2f s, peak %d KB" % (
        names[side], t, n / t, c, max(k for _, k, _ in runs.values())))
if "client" in by:
    for peer in ("getmail", "fetchmail"):
        if peer in by:
            ratios = [by[peer][r][0] / by["client"][r][0] for r in by["client"] if r in by[peer]]
            print("rate ratio mail client / %s: %s (median %.2f)" % (
                names[peer], " ".join("%.2f" % x for x in ratios), statistics.median(ratios)))
            cpu = [by[peer][r][2] / max(by["client"][r][2], 0.01) for r in by["client"] if r in by[peer]]
            print("processor time ratio %s / mail client: %s (median %.2f)" % (
                names[peer], " ".join("%.2f" % x for x in cpu), statistics.median(cpu)))
PY
