#!/bin/sh
# Debian 12 packages. With --build: only what the program and the plug-in need to build (the
# quick set-up). Otherwise also what the tests, the benchmarks, the fuzzers and the tools need
# (chromium: the HTML report test).
set -eu
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
packages="build-essential cmake libpcap-dev"
if [ "${1:-}" != "--build" ]; then
  packages="$packages libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev clang-14
    libclang-rt-14-dev valgrind python3 chromium"
fi
missing=""
for p in $packages; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
$SUDO apt-get update -qq
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
