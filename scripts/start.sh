#!/usr/bin/env bash
# Installs what is missing, builds the suite and starts its main job: the
# super-server portwarden as the service "Q&Xportwarden" under the suite's
# service manager, with the quote (UDP 17), IEN 116 name (UDP 42) and time
# (UDP and TCP 37) daemons enabled. Ports below 1024 need root.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export BUILD_DIR=${BUILD_DIR:-build}
bash scripts/build.sh -DQX_TESTS=OFF
BIN=$(cd "$BUILD_DIR/bin" && pwd)

# The service table in the Windows directory, where the service looks for it.
"$BIN/pwtable" -w enable quipserve clockanswer nameanswer
"$BIN/pwtable" -w set 12 name=timetcp program=clockanswer proto=tcp port=37 max=4 enabled=1
"$BIN/pwtable" -w logging on
windir=$(find "${QX_HOME:-$HOME/.qxtcp}/drive_c" -maxdepth 1 -iname windows | head -n 1)
[ -n "$windir" ] && [ ! -e "$windir/COOKIE.JAR" ] && cp servers/quipserve/COOKIE.JAR "$windir/"

"$BIN/qxsc" create "Q&Xportwarden" "$BIN/portwarden" display="QX Portwarden" 2>/dev/null || true
"$BIN/qxsc" start "Q&Xportwarden" || true
"$BIN/qxsc" query "Q&Xportwarden"
echo "Stop it with: $BIN/qxsc stop \"Q&Xportwarden\""
