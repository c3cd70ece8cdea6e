#!/usr/bin/env bash
# Configures and builds the suite. BUILD_DIR (default build) and extra CMake
# arguments may be given: scripts/build.sh -DQX_SANITIZE=ON
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} "$@"
cmake --build "$build" -j "$(nproc)"
