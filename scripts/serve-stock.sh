#!/bin/sh
# Runs a Debian web server from its stock configuration with our drop-in
# enabled as the README says (see serve_stage_stock in scripts/lib/serve.sh),
# staged in DIR, on a free port of 127.0.0.1: the web-server tests' server.
# Prints the port once it answers, then runs until SIGTERM or SIGINT. Run as
# root, the server and its socket helper work as www-data, as their
# services do. Nothing of the system's is touched and no service is
# started.
# Usage: scripts/serve-stock.sh KIND DIR
#   KIND: lighttpd, apache2 or nginx, each also with -fastcgi
set -e
[ $# -eq 2 ] || { echo "usage: $0 KIND DIR" >&2; exit 2; }
KIND=$1 DIR=$2
TOP="$(cd "$(dirname "$0")/.." && pwd)"
. "$TOP/scripts/lib/serve.sh"
stop() {
  serve_stop
  # lighttpd's FastCGI processes outlive it when it had to be killed: they
  # run the program in DIR, and go with it.
  pkill -KILL -f "^$DIR/(usr/bin|var/lib/corvane-gateway)/corvane-gateway" || true
}
trap stop EXIT
trap 'exit 0' INT TERM
AS_SERVICE=""
[ "$(id -u)" -ne 0 ] || AS_SERVICE="setpriv --reuid=www-data --regid=www-data --clear-groups"
LOG="$DIR/var/log/error.log"  # the server's own log and the standard error of all

# A port taken between the pick and the server's bind is retried.
for _ in 1 2 3 4 5; do
  PORT=$(serve_random_port)
  serve_stage_stock "$KIND" "$DIR" "$PORT"
  touch "$LOG"
  [ -z "$AS_SERVICE" ] || chown www-data:www-data "$LOG"  # lighttpd opens it as www-data
  if [ -n "$SERVE_HELPER" ] && [ -z "$HELPER_PID" ]; then
    # spawn-fcgi runs the gateway from its working directory, fcgiwrap from /.
    (cd "$([ "$KIND" = nginx ] && echo / || echo "$GATEWAY_STATE")" &&
      exec $AS_SERVICE env -i PATH=/usr/bin:/bin ${SERVE_HELPER_ALLOWED:+"CORVANE_ALLOWED_SERVERS=$SERVE_HELPER_ALLOWED"} $SERVE_HELPER) \
      >/dev/null 2>>"$LOG" &
    HELPER_PID=$!
    SERVE_PIDS="$SERVE_PIDS $HELPER_PID"
    for _ in $(seq 100); do [ -S "$SERVE_SOCKET" ] && break; sleep 0.1; done
    [ -S "$SERVE_SOCKET" ] || { echo "$KIND: ${SERVE_HELPER%% *} made no socket" >&2; cat "$LOG" >&2; exit 1; }
  fi
  $SERVE_ARGV >/dev/null 2>>"$LOG" &
  SERVER_PID=$!
  SERVE_PIDS="$SERVE_PIDS $SERVER_PID"
  for _ in $(seq 100); do
    if curl -s -o /dev/null "http://127.0.0.1:$PORT/"; then
      echo "$PORT"
      wait "$SERVER_PID"
      exit 0
    fi
    kill -0 "$SERVER_PID" 2>/dev/null || break
    sleep 0.1
  done
  kill "$SERVER_PID" 2>/dev/null || true
done
echo "$KIND did not answer:" >&2
cat "$LOG" >&2
exit 1
