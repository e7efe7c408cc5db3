#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for a
# fixed time from its seed corpus in fuzz/corpus/<target>/.
#   FUZZ_SECONDS   seconds per target (default 60)
#   FUZZ_RUNS      stop each target after this many inputs (default: time only)
#   FUZZ_SEED      libFuzzer seed (default 1): with FUZZ_RUNS the run is
#                  repeatable, so CI judges the same inputs every time
#   FUZZ_TARGETS   targets to run (default: every fuzz/fuzz_*.cpp)
#   BUILD_DIR      build folder (default build-fuzz)
# New inputs found go to a scratch corpus (not the seeds); a crashing input is
# written to $BUILD_DIR/findings/ and the script fails: copy it into
# tests/data/fuzz-regressions/ so the ordinary tests replay it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh clang libclang-rt-dev
seconds=${FUZZ_SECONDS:-60}
default_targets=$(for f in fuzz/fuzz_*.cpp; do basename "$f" .cpp; done | tr '\n' ' ')
targets=${FUZZ_TARGETS:-$default_targets}
build=${BUILD_DIR:-build-fuzz}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DXMLUTIL_BUILD_FUZZ=ON -DXMLUTIL_SANITIZE=ON \
  -DXMLUTIL_BUILD_TESTS=OFF -DXMLUTIL_BUILD_TOOLS=OFF -DXMLUTIL_BUILD_EXAMPLES=OFF >/dev/null
# shellcheck disable=SC2086
cmake --build "$build" -j"$(nproc)" --target $targets
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
# fuzz_load saves a file on every run; on a memory file system the syncs of
# the atomic writer cost nothing.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
  export TMPDIR=/dev/shm
fi
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
mkdir -p "$build/findings"
status=0
for target in $targets; do
  scratch="$build/corpus/$target"
  rm -rf "$scratch"
  mkdir -p "$scratch"
  echo "== $target: ${seconds}s from fuzz/corpus/$target"
  # shellcheck disable=SC2086
  if ! "$build/fuzz/$target" -max_total_time="$seconds" -seed="${FUZZ_SEED:-1}" ${FUZZ_RUNS:+-runs=$FUZZ_RUNS} -timeout=10 -rss_limit_mb=2048 \
      -max_len=65536 -print_final_stats=1 -artifact_prefix="$build/findings/$target-" \
      "$scratch" "fuzz/corpus/$target" >"$build/$target.log" 2>&1; then
    echo "$target FAILED; input saved under $build/findings/:"
    grep -E 'ERROR|invariant|SUMMARY|Test unit written' "$build/$target.log" | head -n 20
    status=1
  fi
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$build/$target.log" || true
  echo "corpus: $(find "$scratch" -type f | wc -l) files"
done
exit $status
