#!/usr/bin/env bash
# The remote copy and remote command clients' tests talk to Debian's rexec and
# rsh servers. Debian's rsh-server (in.rexecd, in.rshd) will not install
# beside rsh-redone-server, which the terminal's rlogin test needs, so it is
# unpacked, not installed, under $QX_RSH_PEERS (default /opt/qx-rsh-peers),
# where the tests start its daemons by path.
set -euo pipefail
dest=${QX_RSH_PEERS:-/opt/qx-rsh-peers}
exec bash "$(dirname "$0")/../unpack-debs.sh" "$dest" rsh-server
