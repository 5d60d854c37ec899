#!/bin/sh
# Installs what is needed, builds, and serves the gateway through lighttpd on
# 127.0.0.1:PORT (default 8080) until Ctrl-C. Prints example requests and
# their real answers first.
set -e
PORT="${1:-8080}"
cd "$(dirname "$0")/.."
TOP="$(pwd)"
./scripts/install-deps.sh
./scripts/build.sh >/dev/null

RUN="$TOP/build/demo"
rm -rf "$RUN"
mkdir -p "$RUN/root/cgi-bin/account"
ln -s "$TOP/build/bin/corvane-gateway" "$RUN/root/cgi-bin/corvane-gateway"
echo "demo:demo" > "$RUN/users"
cat > "$RUN/lighttpd.conf" <<CONF
server.document-root = "$RUN/root"
server.bind = "127.0.0.1"
server.port = $PORT
server.errorlog = "$RUN/error.log"
var.corvane_users = "$RUN/users"
include "$TOP/deploy/lighttpd-corvane.conf"
CONF

# The gateway's own complaints (standard error) go to the error log.
lighttpd -D -f "$RUN/lighttpd.conf" 2>>"$RUN/error.log" &
LIGHTTPD=$!
trap 'kill $LIGHTTPD 2>/dev/null; wait $LIGHTTPD 2>/dev/null; echo; echo "lighttpd stopped."' EXIT
trap 'exit 0' INT TERM

URL="http://127.0.0.1:$PORT/cgi-bin/corvane-gateway"
for _ in $(seq 50); do
  curl -s -o /dev/null "$URL" && break
  sleep 0.1
done
kill -0 $LIGHTTPD 2>/dev/null || { cat "$RUN/error.log"; exit 1; }

echo "The gateway is served at $URL (user 'demo', password 'demo')."
echo "Account files are kept in $RUN/root/cgi-bin/account."
example() {
  echo
  printf '$ curl -u demo:demo'
  printf " '%s'" "$@"
  echo
  curl -s -u demo:demo "$@"
}
example "$URL?mode=getUser&host=demo&nodeId=1"
example --data 'mode=saveUser&host=demo&nodeId=1&corvaneMetadata=%3Cprefs+theme%3D%22dark%22%2F%3E' "$URL"
example "$URL?mode=loadUser&host=demo&nodeId=1"
example "$URL?mode=frobnicate&host=demo&nodeId=1"
echo
echo "Serving until Ctrl-C."
wait $LIGHTTPD
