#!/bin/sh
# The FastCGI gateway under lighttpd (the packaged drop-in, with a browse
# limit of 2 s) while its server fails in every way in turn: 8 connections
# ask for the metadata of one node for SECONDS while corvane-sim is killed
# and started again on its port every PHASE_MS, now healthy, now gone, now
# holding every reply past the browse limit, answering garbage, cutting
# its replies off, closing connections or failing the call
# (bench/load_tools/fault_soak.c). Fails when any answer is neither the right
# document nor an error element, when a request gets no answer, when the
# answers are not right within 1 s of the server being healthy again, when
# a gateway process dies, or when one grows by more than 4 descriptors or
# 8 MiB of resident memory (measured idle, after a warm-up and at the end).
# Everything runs on 127.0.0.1 and stops by itself. BUILD names the build
# directory (default build/).
# Usage: bench/fastcgi_faults.sh [SECONDS] [PHASE_MS]
set -e
# Requests start server discovery: keep its multicast on this machine.
[ -n "$CORVANE_PRIVATE_NETWORK" ] || exec "$(dirname "$0")/../scripts/private-network.sh" "$0" "$@"
SECONDS_="${1:-60}"
PHASE_MS="${2:-3000}"
BROWSE_MS=2000
STALL_MS=3000  # longer than the browse limit
MAX_FD_GROWTH=4
MAX_RSS_GROWTH_KB=8192
. "$(dirname "$0")/common.sh"
bench_tools http_load fault_soak
# A free port for every server of the run, and the right answer from the first.
serve_sim "$WORK" sim
QUERY="mode=getMetadata&host=127.0.0.1:$SIM_PORT&nodeId=/media/trailer&streamName=info"
(cd "$WORK" && env GATEWAY_INTERFACE=CGI/1.1 REQUEST_METHOD=GET REMOTE_USER=bench QUERY_STRING="$QUERY" \
  CORVANE_ALLOWED_SERVERS="127.0.0.1" "$BUILD/bin/corvane-gateway" | sed '1,/^$/d' >"$WORK/right")
grep -q "<title>Trailer</title>" "$WORK/right" || { echo "the gateway did not answer:" >&2; cat "$WORK/right" >&2; exit 1; }
PORT=$(serve_random_port)
serve_stage_lighttpd "$WORK" "$PORT" fastcgi 'bench:$apr1$6jQ4VM/1$e96NiqCrOnVP1wYvcDtoq.'  # htpasswd -nbm bench bench
serve_replace "$WORK/corvane-gateway-fastcgi.conf" '"bin-environment" => ( ' \
  "\"bin-environment\" => ( \"XQ_CVC_BROWSE_TIMEOUT\" => \"$BROWSE_MS\", "
# The server's port beside the shipped allow-list: killed, it is no longer
# a discovered one, and its faults must reach the gateway all the same.
serve_replace "$WORK/corvane-gateway-fastcgi.conf" '"discovered 127.0.0.1:7549 [::1]:7549"' \
  "\"discovered 127.0.0.1:7549 [::1]:7549 127.0.0.1:$SIM_PORT\""
serve_start_lighttpd "$WORK" "$PORT"
AUTH=YmVuY2g6YmVuY2g=  # bench:bench

# Resident kB and open descriptors of each gateway process, "PID KB FDS" a line.
sample() {
  for _pid in $(bench_gateways); do
    echo "$_pid $(awk '/^VmRSS:/ { print $2 }' "/proc/$_pid/status") $(ls "/proc/$_pid/fd" | wc -l)"
  done
}
# Both processes have served before the first sample.
"$TOOLS/http_load" "$PORT" "/corvane-gateway?$QUERY" "$AUTH" 16 2 "<title>Trailer</title>" >/dev/null
bench_wait_idle 30
sample >"$WORK/before"
kill "$SIM_PID"
wait "$SIM_PID" 2>/dev/null || true

echo "8 connections for $SECONDS_ s, the server changing every $PHASE_MS ms, through lighttpd on 127.0.0.1:"
STATUS=0
"$TOOLS/fault_soak" "$PORT" "/corvane-gateway?$QUERY" "$AUTH" "$WORK/right" "$SECONDS_" "$PHASE_MS" "$STALL_MS" \
  "$WORK/sim.log" "$BUILD/bin/corvane-sim" --port "$SIM_PORT" --tree "$TOP/sim/demo-tree.txt" || STATUS=1

bench_wait_idle 60 || { echo "FAILED: the gateway was still busy 60 s after the run" >&2; STATUS=1; }
sample >"$WORK/after"
printf '%-8s %12s %12s %10s %10s\n' process "kB before" "kB after" "fds before" "fds after"
join "$WORK/before" "$WORK/after" | awk '{ printf "%-8s %12d %12d %10d %10d\n", $1, $2, $4, $3, $5 }'
[ "$(cut -d' ' -f1 "$WORK/before")" = "$(cut -d' ' -f1 "$WORK/after")" ] ||
  { echo "FAILED: a gateway process ended (before: $(cut -d' ' -f1 "$WORK/before" | tr '\n' ' '))" >&2; STATUS=1; }
join "$WORK/before" "$WORK/after" | awk -v kb="$MAX_RSS_GROWTH_KB" -v fds="$MAX_FD_GROWTH" '
  $4 - $2 > kb { printf "FAILED: process %s grew by %d kB\n", $1, $4 - $2; bad = 1 }
  $5 - $3 > fds { printf "FAILED: process %s holds %d more descriptors\n", $1, $5 - $3; bad = 1 }
  END { exit bad }' >&2 || STATUS=1
exit "$STATUS"
