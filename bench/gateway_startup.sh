#!/bin/sh
# Whole-process cost of one gateway request against a trivial C CGI that
# prints a fixed response: medians of many runs of each, the three taking
# turns run by run so that machine noise hits all alike, and their ratios.
# Two requests: getUser (no server) and getMetadata of one node from a
# local corvane-sim.
# BUILD names the build directory (default build/).
# Usage: bench/gateway_startup.sh [RUNS]
set -e
# Requests start server discovery: keep its multicast on this machine.
[ -n "$CORVANE_PRIVATE_NETWORK" ] || exec "$(dirname "$0")/../scripts/private-network.sh" "$0" "$@"
RUNS="${1:-3000}"
. "$(dirname "$0")/common.sh"
cc -O2 -o "$WORK/trivial_cgi" bench/startup/trivial_cgi.c
cc -O2 -o "$WORK/spawn_timer" bench/startup/spawn_timer.c
serve_sim "$WORK" sim
cd "$WORK"
GATEWAY="$BUILD/bin/corvane-gateway"
TIMES=$(REMOTE_USER=bench ./spawn_timer "$RUNS" ./trivial_cgi \
  -- "$GATEWAY" mode=getUser host=h nodeId=n \
  -- "$GATEWAY" mode=getMetadata host=127.0.0.1:$SIM_PORT nodeId=/media/trailer streamName=info)
# shellcheck disable=SC2086
set -- $TIMES
echo "trivial C CGI:         $1 us (median of $RUNS runs)"
awk -v t="$2" -v c="$1" 'BEGIN { printf "gateway getUser:       %s us  ratio %.2f\n", t, t / c }'
awk -v t="$3" -v c="$1" 'BEGIN { printf "gateway getMetadata:   %s us  ratio %.2f (one node from a local corvane-sim)\n", t, t / c }'
