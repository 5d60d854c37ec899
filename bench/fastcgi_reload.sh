#!/bin/sh
# Reloads under load: one gateway started by spawn-fcgi as an operator
# starts it (it forks and leaves), lighttpd passing requests to its socket,
# CONNECTIONS connections of getMetadata from a local corvane-sim for
# SECONDS, and a SIGHUP to the gateway every second meanwhile. Prints the
# requests served, the failed ones (an answer other than 200 with the
# node's metadata, or none) and the reloads; the process must still be the
# same one at the end. RELOAD_LOG, when set, names a file that gets the
# web server's error log. Everything runs on 127.0.0.1 and stops by itself.
# BUILD names the build directory (default build/).
# Usage: bench/fastcgi_reload.sh [CONNECTIONS] [SECONDS]
set -e
# Requests start server discovery: keep its multicast on this machine.
[ -n "$CORVANE_PRIVATE_NETWORK" ] || exec "$(dirname "$0")/../scripts/private-network.sh" "$0" "$@"
CONNECTIONS="${1:-8}"
SECONDS_="${2:-10}"
. "$(dirname "$0")/common.sh"
bench_tools http_load
serve_sim "$WORK" sim
mkdir -p "$WORK/state/account"
SOCKET="$WORK/reload.socket"
# One user sends every request: its share must hold all the connections,
# which come at once when a reload has held them.
GATEWAY=$(CORVANE_MAX_USER_REQUESTS="$CONNECTIONS" spawn-fcgi -s "$SOCKET" -d "$WORK/state" -- "$BUILD/bin/corvane-gateway" 2>&1 |
  sed -n 's/.*PID: \([0-9]*\).*/\1/p')
[ -n "$GATEWAY" ] || { echo "spawn-fcgi did not start the gateway" >&2; exit 1; }
SERVE_PIDS="$SERVE_PIDS $GATEWAY"
PORT=$(serve_random_port)
serve_stage_lighttpd "$WORK" "$PORT" fastcgi 'bench:$apr1$6jQ4VM/1$e96NiqCrOnVP1wYvcDtoq.'  # htpasswd -nbm bench bench
# The drop-in's block on the gateway's socket, with nothing for lighttpd to start.
bench_fastcgi_block /reload "$BUILD/bin/corvane-gateway" "$SOCKET" |
  grep -v -e '"bin-path"' -e '"bin-environment"' -e '"max-procs"' -e '"bin-copy-environment"' >>"$WORK/lighttpd.conf"
serve_start_lighttpd "$WORK" "$PORT"
QUERY="mode=getMetadata&host=127.0.0.1:$SIM_PORT&nodeId=/media/trailer&streamName=info"
(
  for _ in $(seq "$SECONDS_"); do
    sleep 1
    kill -HUP "$GATEWAY" 2>/dev/null && echo x
  done
) >"$WORK/reloads" &
RELOADER=$!
set -- $("$TOOLS/http_load" "$PORT" "/reload?$QUERY" YmVuY2g6YmVuY2g= "$CONNECTIONS" "$SECONDS_" "<title>Trailer</title>")
wait "$RELOADER" || true
ALIVE=no
kill -0 "$GATEWAY" 2>/dev/null && ALIVE=yes
[ -z "$RELOAD_LOG" ] || cat "$WORK"/*.log >"$RELOAD_LOG" 2>/dev/null || true
echo "$CONNECTIONS connections for $SECONDS_ s through lighttpd: $1 req/s, $2 failed, $(wc -l <"$WORK/reloads") reloads, same process alive: $ALIVE"
