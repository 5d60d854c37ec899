#!/bin/sh
# Serves the gateway and its page through lighttpd (the packaged CGI
# drop-in) against corvane-sim with the demo tree,
# everything on 127.0.0.1, for a test that drives them from another
# language. Prints "SIM_PORT HTTP_PORT" on one line once both answer, then
# runs until it gets SIGTERM or SIGINT. The user is demo, password demo.
# Usage: scripts/serve.sh DIR [SIM OPTION...]
set -e
[ $# -ge 1 ] || { echo "usage: $0 DIR [SIM OPTION...]" >&2; exit 2; }
DIR="$1"
shift
TOP="$(cd "$(dirname "$0")/.." && pwd)"
. "$TOP/scripts/lib/serve.sh"
trap serve_stop EXIT
trap 'exit 0' INT TERM
serve_sim "$DIR" sim "$@"
PORT=$(serve_random_port)
serve_stage_lighttpd "$DIR" "$PORT" cgi 'demo:$apr1$GzYNY6Au$I55QsFtuMGCIeWXlpkC48/'  # htpasswd -nbm demo demo
# The drop-in lets through this host's default port only, and the sim
# listens on a free one: the staged copy names it too.
sed -i "s|\(\"CORVANE_ALLOWED_SERVERS\" => \"[^\"]*\)\"|\1 127.0.0.1:$SIM_PORT\"|" "$DIR/corvane-gateway.conf"
grep -q "127.0.0.1:$SIM_PORT\"" "$DIR/corvane-gateway.conf" || { echo "the drop-in sets no CORVANE_ALLOWED_SERVERS" >&2; exit 1; }
serve_start_lighttpd "$DIR" "$PORT"
echo "$SIM_PORT $PORT"
wait "$LIGHTTPD_PID"
