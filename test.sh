#!/bin/sh
# Installs what is needed, builds, and runs every test under Wine (ctest).
set -eu
cd "$(dirname "$0")"
./deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build
exec ctest --test-dir build --output-on-failure
