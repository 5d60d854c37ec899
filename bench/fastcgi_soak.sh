#!/bin/sh
# Soak of the FastCGI gateway: ROUNDS rounds of every mode (11 requests a
# round, against a local corvane-sim), one at a time, to one gateway
# process started by spawn-fcgi; prints its resident memory and open
# descriptors after the first FIRST rounds and at the end, which should
# match. Bounded by ROUNDS and SECONDS; everything on this machine.
# BUILD names the build directory (default build/).
# Usage: bench/fastcgi_soak.sh [ROUNDS] [SECONDS] [FIRST]
set -e
# Requests start server discovery: keep its multicast on this machine.
[ -n "$CORVANE_PRIVATE_NETWORK" ] || exec "$(dirname "$0")/../scripts/private-network.sh" "$0" "$@"
ROUNDS="${1:-100000}"
SECONDS_="${2:-3600}"
FIRST="${3:-1000}"
. "$(dirname "$0")/common.sh"
bench_tools fastcgi_soak
mkdir -p "$WORK/state/account"
serve_sim "$WORK" sim
spawn-fcgi -n -s "$WORK/gateway.socket" -d "$WORK/state" -- "$BUILD/bin/corvane-gateway" >/dev/null 2>&1 &
GATEWAY=$!
SERVE_PIDS="$SERVE_PIDS $GATEWAY"
for _ in $(seq 50); do
  [ -S "$WORK/gateway.socket" ] && break
  sleep 0.1
done
"$TOOLS/fastcgi_soak" "$WORK/gateway.socket" "$GATEWAY" "127.0.0.1:$SIM_PORT" "$ROUNDS" "$FIRST" "$SECONDS_"
