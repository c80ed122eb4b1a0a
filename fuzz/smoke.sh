#!/bin/sh
# CI's fuzz smoke run: each target a fixed number of runs from a fixed seed, starting from a
# fresh copy of its seed corpus; any finding (crash, sanitizer report, leak, timeout) fails.
#   smoke.sh BUILD_DIR [RUNS]
set -eu
here="$(cd "$(dirname "$0")" && pwd)"
build="$1"
runs="${2:-10000}"
status=0
for target in plugin_fuzzer hex_fuzzer capture_fuzzer; do
  rm -rf "$build/corpus/$target"
  log="$build/smoke-$target.log"
  if sh "$here/run.sh" "$build" "$target" -seed=1 -runs="$runs" -max_total_time=40 >"$log" 2>&1
  then
    echo "fuzz smoke $target: $(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}') runs, no finding"
  else
    echo "fuzz smoke $target: FINDING (see $log)"
    tail -n 60 "$log"
    status=1
  fi
done
exit $status
