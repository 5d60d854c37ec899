#!/bin/sh
# Requests per second of getMetadata of one node from a local corvane-sim
# through the FastCGI gateway under lighttpd, against the floor of any
# persistent gateway: a libfcgi responder (bench/load_tools/fixed_fastcgi.c)
# that prints the gateway's answer, headers and body, as a fixed text.
# One lighttpd serves both as the packaged FastCGI drop-in serves the
# gateway: the same processes, time-outs, login and password cache. ROUNDS
# rounds (11), each SECONDS (2) of the gateway then SECONDS of the floor
# with CONNECTIONS (8) at once, then SECONDS of the gateway's ping, which
# calls no server, and SECONDS of the floor that also makes getMetadata's
# one call to the server (bench/load_tools/calling_fastcgi.cpp, one kept
# connection a process): short turns side by side, so that machine noise
# hits all alike; prints requests per second of every turn and the median
# of the rounds' ratios to the floor. Everything runs on 127.0.0.1
# and stops by itself. BUILD names the build directory (default build/).
# Usage: bench/fastcgi_floor.sh [ROUNDS] [SECONDS] [CONNECTIONS]
set -e
# Requests start server discovery: keep its multicast on this machine.
[ -n "$CORVANE_PRIVATE_NETWORK" ] || exec "$(dirname "$0")/../scripts/private-network.sh" "$0" "$@"
ROUNDS="${1:-11}"
SECONDS_="${2:-2}"
CONNECTIONS="${3:-8}"
. "$(dirname "$0")/common.sh"
bench_tools http_load fixed_fastcgi calling_fastcgi
serve_sim "$WORK" sim
QUERY="mode=getMetadata&host=127.0.0.1:$SIM_PORT&nodeId=/media/trailer&streamName=info"
# The gateway's answer, byte for byte that of a FastCGI request: a CGI run.
(cd "$WORK" && env GATEWAY_INTERFACE=CGI/1.1 REQUEST_METHOD=GET REMOTE_USER=bench QUERY_STRING="$QUERY" \
  CORVANE_ALLOWED_SERVERS="127.0.0.1" "$BUILD/bin/corvane-gateway" >"$WORK/answer")
grep -q "<title>Trailer</title>" "$WORK/answer" || { echo "the gateway did not answer:" >&2; cat "$WORK/answer" >&2; exit 1; }
PORT=$(serve_random_port)
serve_stage_lighttpd "$WORK" "$PORT" fastcgi 'bench:$apr1$6jQ4VM/1$e96NiqCrOnVP1wYvcDtoq.'  # htpasswd -nbm bench bench
bench_fastcgi_block /floor "$TOOLS/fixed_fastcgi" "$WORK/floor.socket" "\"FIXED_ANSWER\" => \"$WORK/answer\"" \
  >>"$WORK/lighttpd.conf"
bench_fastcgi_block /called "$TOOLS/calling_fastcgi" "$WORK/called.socket" \
  "\"FIXED_ANSWER\" => \"$WORK/answer\", \"FIXED_SERVER\" => \"127.0.0.1:$SIM_PORT\", \"FIXED_CALL\" => \"GetMetaData /media/trailer info  1\"" \
  >>"$WORK/lighttpd.conf"
serve_start_lighttpd "$WORK" "$PORT"
AUTH=YmVuY2g6YmVuY2g=  # bench:bench
load() {
  set -- $("$TOOLS/http_load" "$PORT" "$1" "$AUTH" "$CONNECTIONS" "$SECONDS_" "${2:-<title>Trailer</title>}")
  [ "$2" = 0 ] || { echo "$2 requests failed" >&2; exit 1; }
  echo "$1"
}
echo "$CONNECTIONS connections, $SECONDS_ s a turn, through lighttpd on 127.0.0.1 (answer $(wc -c <"$WORK/answer") bytes):"
printf '%-6s %9s %9s %6s %9s %6s %9s %6s\n' round gateway floor ratio ping ratio called ratio
for ROUND in $(seq "$ROUNDS"); do
  GATEWAY=$(load "/corvane-gateway?$QUERY")
  FLOOR=$(load "/floor?$QUERY")
  # The gateway without a server to call, and the floor with the call.
  PING=$(load "/corvane-gateway?mode=ping" "<response>pong</response>")
  CALLED=$(load "/called?$QUERY")
  awk -v r="$ROUND" -v g="$GATEWAY" -v f="$FLOOR" -v p="$PING" -v c="$CALLED" \
    'BEGIN { printf "%-6s %9d %9d %6.2f %9d %6.2f %9d %6.2f\n", r, g, f, g / f, p, p / f, c, c / f }' |
    tee -a "$WORK/rounds"
done
# median COLUMN NAME
median() {
  sort -n -k"$1" "$WORK/rounds" | awk -v c="$1" -v name="$2" '{ ratio[NR] = $c } END {
    printf "%s / floor: %.2fx requests/s (median of %d rounds)\n", name, ratio[int((NR + 1) / 2)], NR }'
}
median 4 gateway
median 6 ping
median 8 called
