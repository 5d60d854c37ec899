#!/bin/sh
# scripts/serve.sh with lighttpd's packaged FastCGI drop-in in place of the
# CGI one, and an access log, DIR/access.log, of every request's method,
# path, query, status and user and of the headers that say where it comes
# from: Host, Origin and Sec-Fetch-Site ("-" when the browser sent none).
# Prints "SIM_PORT HTTP_PORT" once both answer; runs until SIGTERM or
# SIGINT. The user is demo, password demo.
# Usage: tests/browser/serve_fastcgi.sh DIR [SIM OPTION...]
set -e
[ $# -ge 1 ] || { echo "usage: $0 DIR [SIM OPTION...]" >&2; exit 2; }
DIR="$1"
shift
TOP="$(cd "$(dirname "$0")/../.." && pwd)"
. "$TOP/scripts/lib/serve.sh"
trap serve_stop EXIT
trap 'exit 0' INT TERM
serve_sim "$DIR" sim "$@"
PORT=$(serve_random_port)
serve_stage_lighttpd "$DIR" "$PORT" fastcgi 'demo:$apr1$GzYNY6Au$I55QsFtuMGCIeWXlpkC48/'  # htpasswd -nbm demo demo
cat >>"$DIR/lighttpd.conf" <<CONF
server.modules += ( "mod_accesslog" )
accesslog.filename = "$DIR/access.log"
accesslog.format = "%m %U ?%q %>s %u host=%{Host}i origin=%{Origin}i site=%{Sec-Fetch-Site}i"
CONF
serve_start_lighttpd "$DIR" "$PORT"
echo "$SIM_PORT $PORT"
wait "$LIGHTTPD_PID"
