#!/bin/sh
# Installs what is needed (web servers without starting or enabling their
# services), builds, and runs the whole suite through CTest: unit,
# end-to-end, under lighttpd, Apache and nginx, and the install and
# package tests.
set -e
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
./scripts/build.sh
cd build
ctest --output-on-failure -j "$(nproc)" --timeout 300
