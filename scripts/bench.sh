#!/usr/bin/env bash
# Runs the benchmark suite: xmlutil against plain libxml2, pugixml and Python
# lxml on generated inputs, and writes bench/results/latest.md (the table) and
# bench/results/ratios.png (the chart).
# Usage: scripts/bench.sh [rounds]   (default 5; the full run takes several minutes)
# Environment: BUILD_DIR (default build-bench), CORPUS_DIR (default $TMPDIR/xmlutil-bench-corpus).
set -euo pipefail
cd "$(dirname "$0")/.."
rounds="${1:-5}"
build="${BUILD_DIR:-$PWD/build-bench}"
corpus="${CORPUS_DIR:-${TMPDIR:-/tmp}/xmlutil-bench-corpus}"

# The peers and the chart tool are benchmark-only dependencies.
scripts/deps.sh libbenchmark-dev libpugixml-dev python3-lxml gnuplot-nox

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DXMLUTIL_BUILD_BENCH=ON >/dev/null
ninja -C "$build" -j2 suite_bench scaling_bench
g++ -O2 -std=c++17 -Wall -Wextra -Werror bench/peers/pugixml_runner.cpp -lpugixml \
    -o "$build/pugixml_runner"

/usr/bin/python3 bench/corpus/generate.py "$corpus"
/usr/bin/python3 bench/run_suite.py --build "$build" --corpus "$corpus" --rounds "$rounds" \
    --results bench/results
