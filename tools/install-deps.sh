#!/bin/sh
# Debian 12 packages the build, the tests and the tools need (chromium: the HTML report test).
set -eu
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
  build-essential cmake libpcap-dev libgtest-dev libgmock-dev libbenchmark-dev \
  nlohmann-json3-dev clang-14 libclang-rt-14-dev valgrind python3 chromium >/dev/null
