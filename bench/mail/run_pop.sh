#!/bin/bash
# POP retrieval of N messages (2 KB to 200 KB, mixed) from Debian's dovecot:
# the mail client into its store beside getmail6 into a Maildir, from the same
# server in one run, with both peak memories. Needs root (dovecot hands the
# mailbox to "nobody") and the packages dovecot-pop3d and getmail6.
# getmail6 delivers each message through a child process of its own and takes
# about a second a message on a loaded machine: ONLY=client leaves it out (for
# the memory of large runs).
# Usage: bench/mail/run_pop.sh BIN_DIR [N] [ONLY]
set -euo pipefail
BIN=$(cd "${1:?bin directory}" && pwd)
N=${2:-10000}
ONLY=${3:-}
[ "$(id -u)" = 0 ] || { echo "run_pop.sh: needs root to start dovecot" >&2; exit 1; }
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
mkdir -p "$MAILDIR"/{new,cur,tmp} "$WORK/ours" "$WORK/getmail/Maildir"/{new,cur,tmp}
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
chown -R 65534:65534 "$WORK/users" "$WORK/getmail/Maildir"
/usr/sbin/dovecot -F -c "$WORK/dovecot.conf" &
DOVECOT_PID=$!
for _ in $(seq 100); do
  python3 -c "import socket; socket.create_connection(('127.0.0.1', $PORT)).close()" 2>/dev/null && break
  sleep 0.1
done
TOTAL=$(du -sb "$MAILDIR/new" | cut -f1)
echo "$N messages, $((TOTAL / 1000000)) MB in dovecot's Maildir"

export QX_DISPLAY=headless QX_AUTOMATION=0
/usr/bin/time -f "%e %M" -o "$WORK/ours.time" "$BIN/mail_pop_fetch" "$PORT" "$WORK/ours" alice secret > "$WORK/ours.count"
read -r OURS_S OURS_KB < "$WORK/ours.time"
echo "mail client: $(cat "$WORK/ours.count") messages in ${OURS_S} s, peak ${OURS_KB} KB"

[ "$ONLY" = client ] && exit 0
cat > "$WORK/getmail/getmailrc" <<RC
[retriever]
type = SimplePOP3Retriever
server = 127.0.0.1
port = $PORT
username = alice
password = secret
[destination]
type = Maildir
path = $WORK/getmail/Maildir/
[options]
read_all = true
delete = false
message_log_syslog = false
RC
# getmail refuses to deliver as root: it runs as "nobody", which owns its directory.
chown -R 65534:65534 "$WORK/getmail"
/usr/bin/time -f "%e %M" -o "$WORK/getmail.time" \
  setpriv --reuid=65534 --regid=65534 --clear-groups getmail --getmaildir "$WORK/getmail" --rcfile getmailrc --quiet
read -r GM_S GM_KB < "$WORK/getmail.time"
GM_COUNT=$(ls "$WORK/getmail/Maildir/new" | wc -l)
echo "getmail6:    $GM_COUNT messages in ${GM_S} s, peak ${GM_KB} KB"
python3 -c "print('rate ratio (mail client / getmail6): %.2f' % ($GM_S / $OURS_S))"
