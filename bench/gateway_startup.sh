#!/bin/sh
# Whole-process cost of one gateway request against a trivial C CGI that
# prints a fixed response, and against an empty C++ program on the shared
# C++ runtime (the floor of any C++ program's start): medians of many runs
# of each, all taking turns run by run so that machine noise hits all
# alike, and their ratios.
# Two requests: getUser (no server) and getMetadata of one node from a
# local corvane-sim.
# BUILD names the build directory (default build/).
# Usage: bench/gateway_startup.sh [RUNS]
set -e
# Requests start server discovery: keep its multicast on this machine.
[ -n "$CORVANE_PRIVATE_NETWORK" ] || exec "$(dirname "$0")/../scripts/private-network.sh" "$0" "$@"
RUNS="${1:-3000}"
. "$(dirname "$0")/common.sh"
bench_tools trivial_cgi spawn_timer empty_cxx
serve_sim "$WORK" sim
cd "$WORK"
GATEWAY="$BUILD/bin/corvane-gateway"
TIMES=$(REMOTE_USER=bench "$TOOLS/spawn_timer" "$RUNS" "$TOOLS/trivial_cgi" -- "$TOOLS/empty_cxx" \
  -- "$GATEWAY" mode=getUser host=h nodeId=n \
  -- "$GATEWAY" mode=getMetadata host=127.0.0.1:$SIM_PORT nodeId=/media/trailer streamName=info)
# shellcheck disable=SC2086
set -- $TIMES
echo "trivial C CGI:         $1 us (median of $RUNS runs)"
awk -v t="$2" -v c="$1" 'BEGIN { printf "empty C++ program:     %s us  ratio %.2f\n", t, t / c }'
awk -v t="$3" -v c="$1" -v e="$2" 'BEGIN { printf "gateway getUser:       %s us  ratio %.2f (%.2f of the empty C++ program)\n", t, t / c, t / e }'
awk -v t="$4" -v c="$1" 'BEGIN { printf "gateway getMetadata:   %s us  ratio %.2f (one node from a local corvane-sim)\n", t, t / c }'
