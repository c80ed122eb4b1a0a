#!/bin/sh
# The benchmarks in one command: builds tdsdecode, the capture generator and the benchmarks
# (Release, in build-bench unless BUILD_DIR says otherwise), runs the in-process benchmarks of
# the plug-in and the engine, then times tdsdecode over generated 20, 100 and 200 MB captures
# (kept in BUILD_DIR/bench-captures). Arguments go to the whole-program driver, e.g.
# `bench/run.sh --sizes 20 --repeat 3` or `bench/run.sh --markdown`.
set -eu
cd "$(dirname "$0")/.."
BUILD=${BUILD_DIR:-build-bench}
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DTDS_BUILD_BENCHMARKS=ON >/dev/null
cmake --build "$BUILD" -j"$(nproc)" \
  --target tdsdecode sybasetds gen_capture tds_bench tds_bench_program >/dev/null

echo "Machine: $(nproc) cores,$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2)"
echo
echo "In process (CPU time per frame; fields/s counts every field recorded):"
"$BUILD/bin/tds_bench" --benchmark_counters_tabular=true --benchmark_min_time=0.5 2>/dev/null ||
  echo "(the in-process benchmarks failed)"
echo
echo "Whole program, output to /dev/null (best of the runs):"
"$BUILD/bin/tds_bench_program" --cache "$BUILD/bench-captures" "$@"
