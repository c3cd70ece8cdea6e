#!/usr/bin/env bash
# The talk daemon run without a display rings on the desktop of the user at
# the console: a test user, their X display (Xvfb) and logind's state files
# for their session, in a network, mount and process namespace of the
# test's own.
# Usage: talk_desktop_test.sh SOURCE_DIR BUILD_DIR
set -u
if [ "$(id -u)" != 0 ]; then
  echo "talk_desktop_test: needs root for its namespaces, a test user and ports below 1024; skipped" >&2
  exit 77
fi
for tool in Xvfb xauth xwininfo python3 ss ip; do
  command -v $tool >/dev/null || {
    echo "talk_desktop_test: $tool is missing: run scripts/setup.sh (packages in .ci/packages.d/servers.txt)" >&2
    exit 1
  }
done
# A process namespace of its own: whatever the test starts ends with it.
exec timeout -k 5 180 unshare -n -m -p -f --kill-child --mount-proc python3 -B "$1/servers/tests/talk_desktop_test.py" "$2"
