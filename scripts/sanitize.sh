#!/bin/sh
# Builds the whole tree under a sanitizer in its own folder and runs every
# test there. Any sanitizer report, in a test or in a program a test
# started, fails the run.
# Usage: scripts/sanitize.sh address,undefined | thread
set -e
KIND="${1:?usage: $0 address,undefined|thread}"
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
DIR="build-$(echo "$KIND" | tr ',' '-')"
cmake -S . -B "$DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_SANITIZE="$KIND" -DCORVANE_BENCH=OFF >/dev/null
cmake --build "$DIR" -j "$(nproc)"

# Reports go to files as well as failing the process that made them, so
# that one in a child process whose exit status nobody checks still counts.
REPORTS="$(pwd)/$DIR/sanitizer-reports"
rm -rf "$REPORTS"
mkdir -p "$REPORTS"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:log_path=$REPORTS/asan"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:log_path=$REPORTS/ubsan"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:log_path=$REPORTS/tsan"
export LSAN_OPTIONS="log_path=$REPORTS/lsan"
status=0
(cd "$DIR" && ctest --output-on-failure -j "$(nproc)" --timeout 600) || status=1
if [ -n "$(ls -A "$REPORTS")" ]; then
  echo "Sanitizer reports ($KIND):"
  for f in "$REPORTS"/*; do echo "== $f"; cat "$f"; done
  status=1
fi
exit $status
