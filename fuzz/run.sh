#!/bin/sh
# Runs one fuzz target from its seed corpus: run.sh BUILD_DIR TARGET [libFuzzer options...]
# TARGET is plugin_fuzzer, hex_fuzzer or capture_fuzzer. New inputs go to BUILD_DIR/corpus/TARGET
# (seeded from fuzz/corpus/TARGET, never written back), findings to BUILD_DIR/findings/.
set -eu
here="$(cd "$(dirname "$0")" && pwd)"
build="$1"
target="$2"
shift 2
case "$target" in
  hex_fuzzer) dict="$here/hex.dict"; maxlen=16384 ;;
  capture_fuzzer) dict="$here/tds.dict"; maxlen=16384 ;;
  plugin_fuzzer) dict="$here/tds.dict"; maxlen=8192 ;;
  *) echo "run.sh: unknown target $target" >&2; exit 2 ;;
esac
work="$build/corpus/$target"
mkdir -p "$work" "$build/findings"
cp -n "$here/corpus/$target/"* "$work/" 2>/dev/null || true
exec "$build/bin/$target" -dict="$dict" -max_len="$maxlen" -timeout=20 -rss_limit_mb=2048 \
  -artifact_prefix="$build/findings/$target-" -print_final_stats=1 "$@" "$work"
