#!/bin/sh
# Serves the gateway and its page through lighttpd (the packaged CGI
# drop-in, or with SERVE_KIND=fastcgi the FastCGI one) against corvane-sim
# with the demo tree, everything on 127.0.0.1, for a test that drives them
# from another language. SERVE_ACCESS_LOG=1 adds DIR/access.log: every
# request's method, path, query, status and user, and the headers that say
# where it comes from (Host, Origin, Sec-Fetch-Site; "-" when the browser
# sent none). Prints "SIM_PORT HTTP_PORT" on one line once both answer,
# then runs until it gets SIGTERM or SIGINT. The user is demo, password
# demo.
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
KIND="${SERVE_KIND:-cgi}"
serve_stage_lighttpd "$DIR" "$PORT" "$KIND" 'demo:$apr1$GzYNY6Au$I55QsFtuMGCIeWXlpkC48/'  # htpasswd -nbm demo demo
DROPIN="$DIR/corvane-gateway.conf"
[ "$KIND" = cgi ] || DROPIN="$DIR/corvane-gateway-$KIND.conf"
# The drop-in lets through this host's default port only, and the sim
# listens on a free one: the staged copy names it too.
sed -i "s|\(\"CORVANE_ALLOWED_SERVERS\" => \"[^\"]*\)\"|\1 127.0.0.1:$SIM_PORT\"|" "$DROPIN"
grep -q "127.0.0.1:$SIM_PORT\"" "$DROPIN" || { echo "the drop-in sets no CORVANE_ALLOWED_SERVERS" >&2; exit 1; }
if [ "${SERVE_ACCESS_LOG:-0}" = 1 ]; then
  cat >>"$DIR/lighttpd.conf" <<CONF
server.modules += ( "mod_accesslog" )
accesslog.filename = "$DIR/access.log"
accesslog.format = "%m %U ?%q %>s %u host=%{Host}i origin=%{Origin}i site=%{Sec-Fetch-Site}i"
CONF
fi
serve_start_lighttpd "$DIR" "$PORT"
echo "$SIM_PORT $PORT"
wait "$LIGHTTPD_PID"
