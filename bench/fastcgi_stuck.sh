#!/bin/sh
# What a server that accepts and never answers costs everyone else: under
# lighttpd with the packaged FastCGI drop-in, HEALTHY connections doing
# getMetadata of one node from a local corvane-sim, alone and then with 8
# more connections whose requests name a silent listener (it accepts and
# never answers), ROUNDS rounds of SECONDS each. After each round the
# silent listener stops, which ends the calls still waiting on it, and the
# next round starts once the gateway is idle. Prints
# every round and the median of the rounds' ratios (healthy requests per
# second with the stuck ones over without). Everything runs on 127.0.0.1
# in a private network and stops by itself. BUILD names the build
# directory (default build/).
# What it stages: the silent listener on the media server's default port
# 7549, which the drop-in's shipped allow-list lets through, and the
# drop-in with no per-user limit (CORVANE_MAX_USER_REQUESTS 0): the stuck
# requests may hold any thread, the worst case for the others, and the
# healthy ones, all of one user, are not refused for their number.
# user_flood.sh measures what the per-user limit leaves the others.
# Usage: bench/fastcgi_stuck.sh [ROUNDS] [SECONDS] [HEALTHY]
set -e
# Requests start server discovery: keep its multicast on this machine.
[ -n "$CORVANE_PRIVATE_NETWORK" ] || exec "$(dirname "$0")/../scripts/private-network.sh" "$0" "$@"
ROUNDS="${1:-5}"
SECONDS_="${2:-10}"
HEALTHY="${3:-56}"
STUCK=8
. "$(dirname "$0")/common.sh"
bench_tools http_load silent_listener
serve_sim "$WORK" sim
bench_silent 7549
PORT=$(serve_random_port)
serve_stage_lighttpd "$WORK" "$PORT" fastcgi 'bench:$apr1$6jQ4VM/1$e96NiqCrOnVP1wYvcDtoq.'  # htpasswd -nbm bench bench
serve_replace "$WORK/corvane-gateway-fastcgi.conf" '"bin-environment" => ( ' \
  '"bin-environment" => ( "CORVANE_MAX_USER_REQUESTS" => "0", '
serve_start_lighttpd "$WORK" "$PORT"
AUTH=YmVuY2g6YmVuY2g=  # bench:bench
HEALTHY_PATH="/corvane-gateway?mode=getMetadata&host=127.0.0.1:$SIM_PORT&nodeId=/media/trailer&streamName=info"
STUCK_PATH="/corvane-gateway?mode=getMetadata&host=127.0.0.1:$SILENT_PORT&nodeId=/media/trailer&streamName=info"
healthy() {
  set -- $("$TOOLS/http_load" "$PORT" "$HEALTHY_PATH" "$AUTH" "$HEALTHY" "$SECONDS_" "<title>Trailer</title>")
  echo "$1 $2"
}
echo "$HEALTHY healthy connections, $STUCK stuck, $SECONDS_ s a turn, through lighttpd on 127.0.0.1:"
printf '%-6s %16s %16s %7s\n' round "alone req/s" "beside req/s" ratio
for ROUND in $(seq "$ROUNDS"); do
  set -- $(healthy)
  ALONE=$1 ALONE_FAILED=$2
  # Each stuck connection waits for its answer (the gateway's error when
  # the login goes unanswered, 5 s) rather than give up and ask again, so
  # that exactly STUCK requests are stuck; it stops with the healthy ones.
  "$TOOLS/http_load" "$PORT" "$STUCK_PATH" "$AUTH" "$STUCK" "$SECONDS_" "<response>" 60 >/dev/null &
  STUCK_LOAD=$!
  set -- $(healthy)
  BESIDE=$1 BESIDE_FAILED=$2
  kill "$STUCK_LOAD" 2>/dev/null || true
  wait "$STUCK_LOAD" 2>/dev/null || true
  [ "$ALONE_FAILED$BESIDE_FAILED" = 00 ] || { echo "healthy requests failed: $ALONE_FAILED alone, $BESIDE_FAILED beside" >&2; exit 1; }
  awk -v r="$ROUND" -v a="$ALONE" -v b="$BESIDE" \
    'BEGIN { printf "%-6s %16d %16d %7.2f\n", r, a, b, b / a }' | tee -a "$WORK/rounds"
  # Ends the calls still waiting (a closed server fails them at once), then
  # the same port again for the next round.
  kill "$SILENT_PID"
  wait "$SILENT_PID" 2>/dev/null || true
  bench_wait_idle 120 || { echo "the gateway did not finish the stuck requests in 120 s" >&2; exit 1; }
  bench_silent "$SILENT_PORT"
done
sort -n -k4 "$WORK/rounds" | awk '{ ratio[NR] = $4 } END {
  printf "beside stuck / alone: %.2fx healthy requests/s (median of %d rounds)\n", ratio[int((NR + 1) / 2)], NR }'
