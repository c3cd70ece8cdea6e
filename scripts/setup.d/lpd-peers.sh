#!/usr/bin/env bash
# The LPD clients' and daemon's tests talk to LPRng (lpd, lpr, lpc, lpq).
# Debian's lprng conflicts with cups-client, which the printing tests need, so
# LPRng is unpacked, not installed, under $QX_LPD_PEERS (default
# /opt/qx-lpd-peers). LPRng reads its configuration only from /etc/lprng: the
# tests bind-mount a directory of their own over it inside their mount
# namespace, so the mount point is made here when LPRng is not installed.
set -euo pipefail
dest=${QX_LPD_PEERS:-/opt/qx-lpd-peers}
mkdir -p /etc/lprng
exec bash "$(dirname "$0")/../unpack-debs.sh" "$dest" lprng
