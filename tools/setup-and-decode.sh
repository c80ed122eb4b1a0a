#!/bin/sh
# Installs the build dependencies, builds, and decodes the sample capture.
set -eu
cd "$(dirname "$0")/.."
sh tools/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
build/bin/tdsdecode tests/data/captures/vendorclient/language.pcap
