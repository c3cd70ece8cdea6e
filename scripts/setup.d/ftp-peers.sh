#!/usr/bin/env bash
# The FTP client's tests talk to three Debian FTP servers. Debian lets only one
# package that provides "ftp-server" be installed, so vsftpd is installed
# normally (.ci/packages.d/ftp.txt) and pure-ftpd and proftpd are unpacked,
# not installed, under $QX_FTP_PEERS (default /opt/qx-ftp-peers), where the
# tests start them by path with their own configuration. Their shared
# libraries are installed as ordinary packages by the same list.
set -euo pipefail
dest=${QX_FTP_PEERS:-/opt/qx-ftp-peers}
mkdir -p "$dest"

# The account the servers log in as a local user. Its password is made here,
# at random, and kept in a root-only file that the tests read.
if ! getent passwd qxftpuser >/dev/null; then
  useradd -m -s /bin/bash -c "FTP client tests" qxftpuser
fi
if [ ! -s "$dest/qxftpuser.pass" ]; then
  umask 077
  head -c 12 /dev/urandom | base64 | tr -d '/+=' >"$dest/qxftpuser.pass"
  echo "qxftpuser:$(cat "$dest/qxftpuser.pass")" | chpasswd
fi
exec bash "$(dirname "$0")/../unpack-debs.sh" "$dest" pure-ftpd proftpd-core
