#!/bin/sh
# Frame throughput and event latency against corvane-sim, each beside its
# raw loopback floor measured in the same run (see FrameBench.cpp and
# EventBench.cpp for what is compared), in a private network namespace so
# that the client's server discovery stays on this machine.
# Usage: bench/frames_events.sh [BUILD_DIR]   (default build)
set -e
[ -n "$CORVANE_PRIVATE_NETWORK" ] || exec "$(dirname "$0")/../scripts/private-network.sh" "$0" "$@"
cd "$(dirname "$0")/.."
BUILD="${1:-build}"
cmake --build "$BUILD" -j2 --target FrameBench EventBench corvane-sim >/dev/null
"$BUILD/bin/FrameBench"
"$BUILD/bin/EventBench"
