#!/usr/bin/env bash
# The talk daemons through portwarden on their real ports (518, 517) against
# Debian's talk in a pseudo-terminal, hand-made old-protocol and hostile
# datagrams, in a network and mount namespace of the test's own.
# Usage: talk_peer_test.sh SOURCE_DIR BUILD_DIR
set -u
if [ "$(id -u)" != 0 ]; then
  echo "talk_peer_test: needs root for a network and mount namespace and ports below 1024; skipped" >&2
  exit 77
fi
for tool in talk python3 ss ip; do
  command -v $tool >/dev/null || {
    echo "talk_peer_test: $tool is missing: run scripts/setup.sh (packages in .ci/packages.d/servers.txt)" >&2
    exit 1
  }
done
exec timeout 240 unshare -n -m python3 -B "$1/servers/tests/talk_peer_test.py" "$2"
