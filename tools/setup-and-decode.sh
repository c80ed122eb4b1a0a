#!/bin/sh
# Installs the build dependencies, builds the program and the plug-in (quietly; the log is kept
# in build/setup.log), and decodes the sample capture in the message view.
set -eu
cd "$(dirname "$0")/.."
sh tools/install-deps.sh --build
mkdir -p build
# Optimised, without debug information: a quarter less compile time for the first decode.
if ! { cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo \
         -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" -DTDS_BUILD_TESTS=OFF &&
       cmake --build build -j"$(nproc)" --target tdsdecode sybasetds; } >build/setup.log 2>&1; then
  cat build/setup.log
  exit 1
fi
build/bin/tdsdecode tests/data/captures/vendorclient/language.pcap
