#!/usr/bin/env bash
# Installs what is missing, configures, builds and runs the whole test suite.
# XMLUTIL_SANITIZE=1 builds with AddressSanitizer + UndefinedBehaviorSanitizer
# (in build-asan/ unless BUILD_DIR says otherwise).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
sanitize=${XMLUTIL_SANITIZE:-0}
if [ "$sanitize" = 1 ]; then
  build=${BUILD_DIR:-build-asan}
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DXMLUTIL_SANITIZE=ON \
    -DXMLUTIL_REAL_FILES_TEST=OFF >/dev/null
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
else
  build=${BUILD_DIR:-build}
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DXMLUTIL_REAL_FILES_TEST=OFF >/dev/null
fi
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" -j"$(nproc)" --output-on-failure --timeout 600
