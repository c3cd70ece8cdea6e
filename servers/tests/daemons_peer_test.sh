#!/usr/bin/env bash
# The finger, TFTP and gopher daemons through portwarden on their real ports
# (79, 69, 70), against Debian's finger, tftp-hpa, curl (gopher and TFTP)
# and lynx and against scripted hostile clients, in a network and mount
# namespace of the test's own (loopback only, a hosts file of its own for the
# name rules of gatekeeper). Every byte that comes back is compared; nothing
# outside a root may be read or written.
# Usage: daemons_peer_test.sh SOURCE_DIR BUILD_DIR
set -u
if [ "${1:-}" != inside ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "daemons_peer_test: needs root for a network and mount namespace and ports below 1024; skipped" >&2
    exit 77
  fi
  for tool in finger tftp curl lynx python3 cmp; do
    command -v $tool >/dev/null || {
      echo "daemons_peer_test: $tool is missing: run scripts/setup.sh (packages in .ci/packages.d/servers.txt)" >&2
      exit 1
    }
  done
  exec timeout 300 unshare -n -m bash "$0" inside "$@"
fi
source_dir=$2
build_dir=$3
bin=$build_dir/bin
helper=$source_dir/servers/tests/daemon_clients.py
ip link set lo up
scratch=$(mktemp -d /tmp/qx-daemons-XXXXXX)
export QX_HOME=$scratch/home QX_MACHINE_DIR=$scratch/machine QX_RUNTIME_DIR=$scratch/run
export QX_EVENTLOG_FILE=$scratch/events.txt QX_CONSOLE_USER=daemon QX_TEST_PUMP_IDLE_MS=1500
srv=$scratch/srv gopher=$scratch/gopher tftpread=$scratch/tftp/read tftpwrite=$scratch/tftp/write
mkdir -p "$QX_HOME/drive_c/WINDOWS" "$srv" "$gopher/docs" "$gopher/bin" "$tftpread/sub" "$tftpwrite" "$scratch/out"
pw=""
finish() {
  [ -n "$pw" ] && kill "$pw" 2>/dev/null && wait "$pw" 2>/dev/null
  # Daemons of this run still alive (a failed check may leave one): by their runtime directory.
  for p in /proc/[0-9]*; do
    grep -qsz "^QX_RUNTIME_DIR=$QX_RUNTIME_DIR\$" "$p/environ" && kill -9 "${p#/proc/}" 2>/dev/null
  done
  rm -rf "$scratch"
}
trap finish EXIT
failures=0
check() { # check WHAT COMMAND...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else
    echo "FAILED: $what"
    failures=$((failures + 1))
  fi
}
has() { grep -qE -- "$2" <<<"$1"; }

# Names for gatekeeper's DNS rules: 127.0.0.3 is pc1.example.com, 127.0.0.4 a look-alike.
printf '127.0.0.1 localhost\n127.0.0.3 pc1.example.com\n127.0.0.4 pc1.badexample.com\n' >"$scratch/hosts"
mount --bind "$scratch/hosts" /etc/hosts
printf '[gatekeeper]\r\nLogFile=%s\r\n' "$scratch/gate.log" >"$QX_HOME/drive_c/WINDOWS/QXAPPS.INI"
cat >"$srv/GATEKEEPER.DAT" <<'RULES'
# everyone may have everything, but:
default 1
127.0.0.2 255.255.255.255 0 0docs     # this address may not read the documents
default 0 0private
example.com 5 0private                # only hosts of example.com may read these
RULES
printf 'Building the daemons.\r\n' >"$srv/PROJECT.QX"
printf 'Finger, TFTP and gopher.\r\nThen more.\r\n' >"$srv/PLAN.QX"

# Gopher content: a menu, a text without its last line end, a binary ending in Ctrl-Z.
printf '0Read me\tdocs/readme.txt\t127.0.0.1\t70\r\n9A binary\tbin/f.bin\t127.0.0.1\t70\r\n' >"$gopher/DEFAULT.GMN"
printf 'line one\r\nline two' >"$gopher/docs/readme.txt"
printf 'secret\r\n' >"$gopher/private.txt"
python3 -c 'import sys; sys.stdout.buffer.write(bytes(range(256))*4 + b"\x1a")' >"$gopher/bin/f.bin"
printf 'outside\n' >"$scratch/secret"
ln -s "$scratch/secret" "$gopher/docs/link"

# TFTP content.
for n in 0 511 512 1024; do head -c $n /dev/urandom >"$tftpread/f$n"; done
head -c $((40 * 1024 * 1024)) /dev/urandom >"$tftpread/big"
printf 'a\nb\n' >"$tftpread/sub/text"
ln -s "$scratch/secret" "$tftpread/link"
printf 'taken\n' >"$tftpwrite/taken"

cd "$srv"
table() { "$bin/pwtable" "$@" >/dev/null || echo "FAILED: pwtable $*"; }
table enable whoanswer lightfiles burrowserve
slot_of() { "$bin/pwtable" list | awk -v n="$1" '$0 ~ n {print $1; exit}' | tr -d ':'; }
table set "$(slot_of lightfiles)" "params=-r $tftpread -w$tftpwrite"
table set "$(slot_of burrowserve)" "params=$gopher"
table logging on
"$bin/portwarden" </dev/null >"$scratch/portwarden.out" 2>&1 &
pw=$!
for _ in $(seq 1 100); do
  [ "$(ss -Hlnt '( sport = :70 or sport = :79 )' | wc -l)" = 2 ] && ss -Hlnu 'sport = :69' | grep -q . && break
  sleep 0.1
done
check "portwarden listens on 69, 70 and 79" ss -Hlnu 'sport = :69' | grep -q .

echo "== finger"
out=$(timeout 20 finger @127.0.0.1 2>&1)
check "report: version line" has "$out" '^Windows NT Version 4\.0 build 1381, [0-9]+ processors? \(Intel Pentium\)'
check "report: system line" has "$out" '^Running on Linux '
check "report: directories" has "$out" '^Windows was run from C:\\WINDOWS with system directory C:\\WINDOWS\\SYSTEM32'
check "report: screen" has "$out" '^Screen resolution = [0-9]+x[0-9]+x[0-9]+ colours'
check "report: memory" has "$out" '^Of [0-9]+ (Mbyte|Kbyte|byte)s of physical memory, [0-9]+ (Mbyte|Kbyte|byte)s are available'
check "report: keyboard" has "$out" '^Keyboard is a Enhanced-101 keyboard with 12 function keys'
check "report: uptime" has "$out" '^Windows UpTime is [0-9]+ [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]+'
check "report: console user" has "$out" '^Console User: daemon'
check "no plan without /W" bash -c '! grep -q "^Project:" <<<"$1"' _ "$out"
out=$(timeout 20 finger -l alice@127.0.0.1 2>&1)
check "finger -l: project section" has "$out" $'^Project:\r?\nBuilding the daemons\\.'
check "finger -l: plan section" grep -qzE $'Project:\r?\nBuilding the daemons\\.\r?\nPlan:\r?\nFinger, TFTP and gopher\\.\r?\nThen more\\.' <<<"$out"
check "finger: lower-case /w, silent and non-reading clients" python3 "$helper" finger

echo "== tftp"
for n in 0 511 512 1024; do
  (cd "$scratch/out" && timeout 20 tftp -m binary 127.0.0.1 -c get "f$n" "got$n" >/dev/null 2>&1)
  check "get of $n bytes" cmp -s "$tftpread/f$n" "$scratch/out/got$n"
  (cd "$tftpread" && timeout 20 tftp -m binary 127.0.0.1 -c put "f$n" "put$n" >/dev/null 2>&1)
  check "put of $n bytes" cmp -s "$tftpread/f$n" "$tftpwrite/put$n"
done
(cd "$scratch/out" && timeout 120 tftp -m binary 127.0.0.1 -c get big big >/dev/null 2>&1)
check "get of 40 MiB (past block 65,535)" cmp -s "$tftpread/big" "$scratch/out/big"
(cd "$tftpread" && timeout 120 tftp -m binary 127.0.0.1 -c put big big >/dev/null 2>&1)
check "put of 40 MiB" cmp -s "$tftpread/big" "$tftpwrite/big"
# curl asks for options (RFC 2347) that the daemon does not know; it goes on
# with plain 512-byte blocks from the one port.
for f in f1024 big; do
  timeout 120 curl -s -o "$scratch/out/curl.$f" "tftp://127.0.0.1/$f"
  check "curl: get of $f" cmp -s "$tftpread/$f" "$scratch/out/curl.$f"
  timeout 120 curl -s -T "$tftpread/$f" "tftp://127.0.0.1/curl.$f"
  check "curl: put of $f" cmp -s "$tftpread/$f" "$tftpwrite/curl.$f"
done
(cd "$scratch/out" && timeout 20 tftp -v -m netascii 127.0.0.1 -c get sub/text text >"$scratch/netascii.out" 2>&1)
check "netascii get from a subdirectory" cmp -s "$tftpread/sub/text" "$scratch/out/text"
cmp -s "$tftpread/sub/text" "$scratch/out/text" || { echo "tftp said:"; cat "$scratch/netascii.out"; }
tftp_error() { # tftp_error EXPECTED get|put NAME
  local out
  out=$(cd "$scratch/out" && timeout 20 tftp -m binary 127.0.0.1 -c "$2" "$3" 2>&1)
  has "$out" "$1"
}
check "get ../x: access violation" tftp_error "Error code 2: Access violation" get ../secret
check "get through a symlink out of the root: access violation" tftp_error "Error code 2: Access violation" get link
check "get /etc/passwd reads below the root only" tftp_error "Error code 1: File not found" get /etc/passwd
check "get of a directory: not found" tftp_error "Error code 1: File not found" get sub
check "get of a missing file" tftp_error "Error code 1: File not found" get nosuch
printf 'x\n' >"$scratch/out/taken"
check "put over an existing file" tftp_error "Error code 6: File already exists" put taken
check "existing file kept" grep -qx taken "$tftpwrite/taken"
check "tftp: opcodes, truncation, duplicates, gaps, a lost ACK, peers side by side" python3 "$helper" tftp "$tftpread" "$tftpwrite"
# A full disk: a write directory on a 256 KiB tmpfs. A file that fits is
# written whole; one that does not gets "Disk full" (never a success), and
# so does a one-block file once the disk is full, whose only write is the
# one made before its last acknowledgement.
mkdir -p "$tftpwrite/small" && mount -t tmpfs -o size=256k tmpfs "$tftpwrite/small"
head -c $((100 * 1024)) /dev/urandom >"$scratch/out/f100k"
head -c $((1024 * 1024)) /dev/urandom >"$scratch/out/f1m"
(cd "$scratch/out" && timeout 20 tftp -m binary 127.0.0.1 -c put f100k small/f100k >/dev/null 2>&1)
check "put into a small disk: written whole" cmp -s "$scratch/out/f100k" "$tftpwrite/small/f100k"
for f in f1m f1024; do
  [ -e "$scratch/out/$f" ] || cp "$tftpread/$f" "$scratch/out/$f"
  out=$(cd "$scratch/out" && timeout 20 tftp -m binary 127.0.0.1 -c put "$f" "small/$f" 2>&1)
  check "put of $f into a full disk: Disk full" has "$out" "Error code 3: Disk full or allocation exceeded"
done
umount "$tftpwrite/small"
check "nothing written outside the write root" bash -c '[ "$(cat "$1")" = outside ] && [ ! -e "$2/../x" ]' _ "$scratch/secret" "$tftpwrite"

echo "== gopher"
menu=$(timeout 20 curl -s gopher://127.0.0.1/1 | od -An -c | tr -d ' \n')
want=$( (cat "$gopher/DEFAULT.GMN"; printf '.\r\n') | od -An -c | tr -d ' \n')
check "curl: the default menu and its end line" [ "$menu" = "$want" ]
text=$(timeout 20 curl -s gopher://127.0.0.1/00docs/readme.txt | od -An -c | tr -d ' \n')
want=$(printf 'line one\r\nline two\r\n.\r\n' | od -An -c | tr -d ' \n')
check "curl: a text without its last line end" [ "$text" = "$want" ]
timeout 20 curl -s gopher://127.0.0.1/99bin/f.bin >"$scratch/out/f.bin"
check "curl: a binary unchanged, Ctrl-Z kept, no end line" cmp -s "$gopher/bin/f.bin" "$scratch/out/f.bin"
out=$(timeout 20 lynx -dump gopher://127.0.0.1/ 2>&1)
check "lynx renders the menu" has "$out" "Read me"
out=$(timeout 20 curl -s --interface 127.0.0.2 gopher://127.0.0.1/00docs/readme.txt)
check "gatekeeper refuses 127.0.0.2 the documents" [ "$out" = $'3Gopher Server disallowing access\t\t\t\t\r\n.\r' ]
out=$(timeout 20 curl -s --interface 127.0.0.3 gopher://127.0.0.1/00private.txt)
check "gatekeeper lets pc1.example.com read private" has "$out" "^secret"
out=$(timeout 20 curl -s --interface 127.0.0.4 gopher://127.0.0.1/00private.txt)
check "gatekeeper refuses pc1.badexample.com" has "$out" "disallowing access"
check "gopher: traversal, long and split selectors" python3 "$helper" gopher
log=$(cut -c28- "$scratch/gate.log" | tr -d "\r")
check "log: the refused address" has "$log" '^QXburrowserve got IP=127\.0\.0\.2 Port=[0-9]+ requesting 0docs/readme\.txt\\r\\n, permission \(none\) - we said 0$'
check "log: the default menu" has "$log" '^QXburrowserve got IP=127\.0\.0\.1 Port=[0-9]+ requesting the default, permission \(none\) - we said 1'
check "log: by name" has "$log" '^QXburrowserve got IP=127\.0\.0\.3 Port=[0-9]+ requesting 0private\.txt\\r\\n, permission \(none\) - we said 5'

kill "$pw"
wait "$pw"
pw=""
[ $failures = 0 ] || {
  echo "$failures checks failed; portwarden said:"
  cat "$scratch/portwarden.out"
  exit 1
}
