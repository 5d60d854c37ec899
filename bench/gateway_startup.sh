#!/bin/sh
# Whole-process cost of one gateway request against a trivial C CGI that
# prints a fixed response: medians of many runs of each, interleaved in
# rounds so that machine noise hits all alike, and their ratios. Two
# requests: getUser (no server) and getMetadata of one node from a local
# corvane-sim.
# Usage: bench/gateway_startup.sh [RUNS_PER_ROUND] [ROUNDS]
set -e
# Requests start server discovery: keep its multicast on this machine.
[ -n "$CORVANE_PRIVATE_NETWORK" ] || exec "$(dirname "$0")/../scripts/private-network.sh" "$0" "$@"
RUNS="${1:-300}"
ROUNDS="${2:-5}"
cd "$(dirname "$0")/.."
TOP="$(pwd)"
[ -x build/bin/corvane-gateway ] && [ -x build/bin/corvane-sim ] || ./scripts/build.sh >/dev/null
. scripts/lib/serve.sh
WORK="$(mktemp -d)"
trap 'serve_stop; rm -rf "$WORK"' EXIT
cc -O2 -o "$WORK/trivial_cgi" bench/startup/trivial_cgi.c
cc -O2 -o "$WORK/spawn_timer" bench/startup/spawn_timer.c
serve_sim "$WORK" sim
PORT=$SIM_PORT
cd "$WORK"
GATEWAY="$TOP/build/bin/corvane-gateway"
c="" ; user="" ; meta=""
for _ in $(seq "$ROUNDS"); do
  c="$c $(./spawn_timer "$RUNS" ./trivial_cgi)"
  user="$user $(REMOTE_USER=bench ./spawn_timer "$RUNS" "$GATEWAY" mode=getUser host=h nodeId=n)"
  meta="$meta $(REMOTE_USER=bench ./spawn_timer "$RUNS" "$GATEWAY" mode=getMetadata host=127.0.0.1:$PORT \
                nodeId=/media/trailer streamName=info)"
done
median() { echo "$@" | tr ' ' '\n' | grep . | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
C=$(median $c)
U=$(median $user)
M=$(median $meta)
echo "trivial C CGI:         $C us (median of $ROUNDS rounds of $RUNS runs)"
awk -v t="$U" -v c="$C" 'BEGIN { printf "gateway getUser:       %s us  ratio %.2f\n", t, t / c }'
awk -v t="$M" -v c="$C" 'BEGIN { printf "gateway getMetadata:   %s us  ratio %.2f (one node from a local corvane-sim)\n", t, t / c }'
