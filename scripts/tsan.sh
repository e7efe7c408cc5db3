#!/usr/bin/env bash
# Builds the concurrency tests with ThreadSanitizer in its own folder and runs
# them: eight threads on separate document objects, and wrappers of moved
# nodes freed on another thread, must show no data race.
#   BUILD_DIR   build folder (default build-tsan)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
build=${BUILD_DIR:-build-tsan}
flags="-fsanitize=thread -fno-omit-frame-pointer"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" \
  -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=thread" \
  -DXMLUTIL_BUILD_TOOLS=OFF -DXMLUTIL_BUILD_EXAMPLES=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target concurrency_test wrapper_pool_test
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}
# ThreadSanitizer cannot map its shadow memory with the widest address-space
# randomisation some kernels use; run without randomisation where allowed
# (the setting is inherited by the test processes ctest starts).
norandom=()
if setarch "$(uname -m)" -R true 2>/dev/null; then
  norandom=(setarch "$(uname -m)" -R)
fi
"${norandom[@]}" ctest --test-dir "$build" -R '^(Concurrency|WrapperPool)' --output-on-failure --timeout 600
