#!/bin/sh
# Installs what is needed, builds, and runs the whole suite (unit,
# end-to-end, and under lighttpd) through CTest.
set -e
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh
cd build
ctest --output-on-failure -j "$(nproc)" --timeout 300
