#!/bin/sh
# What one user's flood costs another user: under lighttpd with the
# packaged FastCGI drop-in (2 processes of 8 threads) and its shipped
# allow-list, user "other" asks for the children of / on a local
# corvane-sim COUNT times in a row, first alone, then while user "flood"
# keeps FLOOD requests at once (each asking again once answered) for the
# children of / on a server at the allowed default port 7549 that accepts
# and never answers. Prints the other user's median and worst latency and
# failed requests with and without the flood, from the same run, and how
# the flood's requests were answered. Everything runs on 127.0.0.1 in a
# private network and stops by itself. BUILD names the build directory
# (default build/). Usage: bench/user_flood.sh [COUNT] [FLOOD]
set -e
# Requests start server discovery: keep its multicast on this machine.
[ -n "$CORVANE_PRIVATE_NETWORK" ] || exec "$(dirname "$0")/../scripts/private-network.sh" "$0" "$@"
COUNT="${1:-50}"
FLOOD="${2:-16}"
. "$(dirname "$0")/common.sh"
bench_tools http_load latency_probe silent_listener
serve_sim "$WORK" sim
# The media server's default port, which the shipped allow-list lets
# through: a local service there that never answers is the flood's target.
bench_silent 7549
PORT=$(serve_random_port)
# openssl passwd -apr1: flood:flood and other:other
serve_stage_lighttpd "$WORK" "$PORT" fastcgi "$(printf '%s\n%s' \
  'flood:$apr1$flood1xx$TO1GyN44/LVy.i82t6t/z.' 'other:$apr1$other1xx$scIF6t0wRDroGsmJOQzy2/')"
serve_start_lighttpd "$WORK" "$PORT"
FLOOD_AUTH=Zmxvb2Q6Zmxvb2Q=  # flood:flood
OTHER_AUTH=b3RoZXI6b3RoZXI=  # other:other
OTHER_PATH="/corvane-gateway?mode=getChildren&host=127.0.0.1:$SIM_PORT&nodeId=/"
FLOOD_PATH="/corvane-gateway?mode=getChildren&host=127.0.0.1:$SILENT_PORT&nodeId=/"
probe() {
  # Each request waits up to 60 s: without a share one took 22-24 s.
  "$TOOLS/latency_probe" "$PORT" "$OTHER_PATH" "$OTHER_AUTH" "$COUNT" "<child>" 60
}
probe >/dev/null  # the connections, logins and discovery every later request finds
set -- $(probe)
ALONE_MEDIAN=$1 ALONE_WORST=$2 ALONE_FAILED=$3
# Each flood connection waits for its answer, then asks again; stopped
# after the probe (or after 300 s).
"$TOOLS/http_load" "$PORT" "$FLOOD_PATH" "$FLOOD_AUTH" "$FLOOD" 300 "<response>" 60 >"$WORK/flood" &
FLOOD_LOAD=$!
SERVE_PIDS="$SERVE_PIDS $FLOOD_LOAD"
# Until the flood holds its share: the silent server has its connections.
for _ in $(seq 50); do
  [ "$(ss -Htn state established "( dport = :$SILENT_PORT )" | wc -l)" -ge 2 ] && break
  sleep 0.1
done
set -- $(probe)
FLOODED_MEDIAN=$1 FLOODED_WORST=$2 FLOODED_FAILED=$3
kill "$FLOOD_LOAD" 2>/dev/null || true
wait "$FLOOD_LOAD" 2>/dev/null || true
REFUSED=$(grep -c 'Too many requests in progress' "$WORK/error.log" || true)
echo "user 'other': $COUNT getChildren in a row through lighttpd on 127.0.0.1, 2 gateway processes x 8 threads"
printf '%-24s %10s %10s %7s\n' "" "median ms" "worst ms" failed
printf '%-24s %10s %10s %7s\n' alone "$ALONE_MEDIAN" "$ALONE_WORST" "$ALONE_FAILED"
printf '%-24s %10s %10s %7s\n' "beside $FLOOD flooding" "$FLOODED_MEDIAN" "$FLOODED_WORST" "$FLOODED_FAILED"
echo "the flood's requests refused with 503 meanwhile: $REFUSED"
