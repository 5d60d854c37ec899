#!/bin/sh
# Frame throughput and event latency against corvane-sim, each beside its
# raw loopback floor measured in the same run (see FrameBench.cpp and
# EventBench.cpp for what is compared), in a private network namespace so
# that the client's server discovery stays on this machine. Repetitions
# are interleaved at random, so that machine noise hits each pair alike;
# compare the medians.
# Usage: bench/frames_events.sh [BUILD_DIR [REPETITIONS]]   (build, 6)
set -e
[ -n "$CORVANE_PRIVATE_NETWORK" ] || exec "$(dirname "$0")/../scripts/private-network.sh" "$0" "$@"
cd "$(dirname "$0")/.."
BUILD="${1:-build}"
REPS="${2:-6}"
cmake -S . -B "$BUILD" -DCORVANE_BENCH=ON >/dev/null
cmake --build "$BUILD" -j2 --target FrameBench EventBench corvane-sim >/dev/null
for bench in FrameBench EventBench; do
  "$BUILD/bin/$bench" --benchmark_repetitions="$REPS" --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true 2>/dev/null | grep -E '^BM_.*_median'
done
