#!/usr/bin/env bash
# Runs the test over the XML-like files of this machine (under /usr/share and
# /etc, or the colon-separated XMLUTIL_REAL_FILES_ROOTS): what xmllint loads,
# the library loads and saves back unchanged. Files are only read; saves go
# to a scratch folder. Prints the tallies.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DXMLUTIL_REAL_FILES_TEST=ON >/dev/null
cmake --build "$build" --target real_files_test -j"$(nproc)"
ctest --test-dir "$build" -L real_files --verbose --timeout 3600
