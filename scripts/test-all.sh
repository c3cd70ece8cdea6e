#!/usr/bin/env bash
# Installs what is missing, builds the suite with AddressSanitizer and
# UndefinedBehaviorSanitizer and warnings as errors, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/check-format.sh
export BUILD_DIR=${BUILD_DIR:-build-test}
bash scripts/build.sh -DQX_SANITIZE=ON -DQX_WERROR=ON -DQX_TESTS=ON
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/scripts/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
cd "$BUILD_DIR"
ctest --output-on-failure --timeout 600 -j "$(nproc)"
