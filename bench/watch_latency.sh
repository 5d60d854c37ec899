#!/bin/sh
# Live updates: the latency from a metadata change by one client to the
# event line at a client watching through lighttpd with the FastCGI
# drop-in, taking turns with the library's own event latency (EventBench's
# BM_EventLatency: from the same change to a handler in the same process);
# then the resident memory and threads of one FastCGI gateway process
# before and while it holds 256 idle streams. Both latencies count from the
# "Time" the server's event carries. Everything runs on 127.0.0.1 in a
# private network namespace and stops by itself.
# BUILD names the build directory (default build/).
# Usage: bench/watch_latency.sh [ROUNDS [EVENTS]]   (5, 50)
set -e
[ -n "$CORVANE_PRIVATE_NETWORK" ] || exec "$(dirname "$0")/../scripts/private-network.sh" "$0" "$@"
ROUNDS="${1:-5}"
EVENTS="${2:-50}"
. "$(dirname "$0")/common.sh"
cmake -S . -B "$BUILD" -DCORVANE_BENCH=ON >/dev/null
cmake --build "$BUILD" -j2 --target EventBench corvane-gateway corvane-sim >/dev/null
serve_sim "$WORK" sim
PORT=$(serve_random_port)
# htpasswd -nbm bench bench
serve_stage_lighttpd "$WORK" "$PORT" fastcgi 'bench:$apr1$6jQ4VM/1$e96NiqCrOnVP1wYvcDtoq.'
serve_start_lighttpd "$WORK" "$PORT"
AUTH=YmVuY2g6YmVuY2g=  # bench:bench
HOST="127.0.0.1:$SIM_PORT"

: >"$WORK/gateway.us" && : >"$WORK/request.us" && : >"$WORK/library.us"
for round in $(seq "$ROUNDS"); do
  set -- $(python3 bench/watch_probe.py latency "$PORT" "$AUTH" "$HOST" "$EVENTS")
  echo "$1" >>"$WORK/gateway.us"
  echo "$2" >>"$WORK/request.us"
  "$BUILD/bin/EventBench" --benchmark_filter=BM_EventLatency 2>/dev/null |
    awk '/^BM_EventLatency/ { print $2 }' >>"$WORK/library.us"
done
median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
echo "Event latency, median of $ROUNDS rounds ($EVENTS events a round for the stream), microseconds:"
printf '%-52s %8s\n' "change -> event line through lighttpd (FastCGI)" "$(median "$WORK/gateway.us")"
printf '%-52s %8s\n' "  setMetadata request sent -> that line" "$(median "$WORK/request.us")"
printf '%-52s %8s\n' "change -> handler in the library (EventBench)" "$(median "$WORK/library.us")"

# One process, 256 streams (the default bound), each of its own user.
SOCKET="$WORK/hold.socket"
(cd "$GATEWAY_STATE" && exec env -i PATH=/usr/bin:/bin CORVANE_ALLOWED_SERVERS="$HOST" \
  spawn-fcgi -n -s "$SOCKET" -- "$BUILD/bin/corvane-gateway") >/dev/null 2>>"$WORK/error.log" &
HOLD_PID=$!
SERVE_PIDS="$SERVE_PIDS $HOLD_PID"
for _ in $(seq 100); do [ -S "$SOCKET" ] && break; sleep 0.1; done
set -- $(python3 bench/watch_probe.py hold "$SOCKET" 256 "$HOST" "$HOLD_PID")
echo "One FastCGI gateway process:"
printf '%-28s %12s %8s\n' "" "resident kB" "threads"
printf '%-28s %12s %8s\n' "after one request" "$1" "$2"
printf '%-28s %12s %8s\n' "holding 256 idle streams" "$3" "$4"
awk -v a="$1" -v b="$3" 'BEGIN { printf "%.1f kB a stream\n", (b - a) / 256 }'
