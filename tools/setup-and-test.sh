#!/bin/sh
# Installs the build dependencies, builds, and runs the whole test suite normally; then
# valgrind memcheck on the sample capture, a short run of each fuzz target, and the whole
# suite again under AddressSanitizer and UndefinedBehaviorSanitizer.
set -eu
cd "$(dirname "$0")/.."
sh tools/install-deps.sh
jobs="$(nproc)"

# The benchmarks are built (so they keep compiling) but not run here: bench/run.sh runs them.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTDS_BUILD_TESTS=ON -DTDS_BUILD_BENCHMARKS=ON >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

# Memcheck on the sample: no invalid access, no leak.
sample=tests/data/captures/tsql-language.pcap
valgrind -q --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect \
  build/bin/tdsdecode "$sample" >/dev/null
valgrind -q --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect \
  build/bin/tdsdecode -o json "$sample" >/dev/null
echo "valgrind memcheck: clean on $sample"

# Fuzz smoke run (clang's libFuzzer).
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
  -DTDS_BUILD_FUZZERS=ON -DTDS_BUILD_TESTS=OFF >/dev/null
cmake --build build-fuzz -j"$jobs" --target plugin_fuzzer hex_fuzzer capture_fuzzer
sh fuzz/smoke.sh build-fuzz

# The suite again with the sanitizers. The end-to-end tests run tdsdecode as a child process,
# so every report is also written to a log file, and any such file fails the run.
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTDS_SANITIZE=ON >/dev/null
cmake --build build-asan -j"$jobs"
logs="$(pwd)/build-asan/sanitizer-logs"
rm -rf "$logs"
mkdir -p "$logs"
status=0
ASAN_OPTIONS="detect_leaks=1:log_path=$logs/asan" \
UBSAN_OPTIONS="print_stacktrace=1:log_path=$logs/ubsan" \
  ctest --test-dir build-asan --output-on-failure -j"$jobs" || status=$?
if [ -n "$(ls -A "$logs")" ]; then
  echo "sanitizer reports:"
  cat "$logs"/*
  exit 1
fi
exit "$status"
