#!/usr/bin/env bash
# The LPD daemon through portwarden on its real port (515) against LPRng's
# lpr and lpq and scripted clients, in a network and mount namespace of the
# test's own.
# Usage: lpd_peer_test.sh SOURCE_DIR BUILD_DIR
set -u
if [ "$(id -u)" != 0 ]; then
  echo "lpd_peer_test: needs root for a network and mount namespace and ports below 1024; skipped" >&2
  exit 77
fi
lprng=${QX_LPD_PEERS:-/opt/qx-lpd-peers}/lprng
if [ ! -x "$lprng/usr/bin/lpr" ] || [ ! -d /etc/lprng ]; then
  echo "lpd_peer_test: LPRng is not unpacked under $lprng: run scripts/setup.sh (scripts/setup.d/lpd-peers.sh)" >&2
  exit 1
fi
for tool in python3 ss ip pdftotext; do
  command -v $tool >/dev/null || {
    echo "lpd_peer_test: $tool is missing: run scripts/setup.sh (packages in .ci/packages.d/servers.txt)" >&2
    exit 1
  }
done
exec timeout 240 unshare -n -m python3 -B "$1/servers/tests/lpd_peer_test.py" "$2" "$lprng"
