#!/bin/sh
# Requests per second of the gateway under lighttpd with a bounded load
# (CONNECTIONS at once for SECONDS), for getMetadata of one node from a
# local corvane-sim, against a static CGI that prints a fixed response.
# Everything runs on 127.0.0.1 and stops by itself.
# Usage: bench/lighttpd_load.sh [CONNECTIONS] [SECONDS]
set -e
# Requests start server discovery: keep its multicast on this machine.
[ -n "$CORVANE_PRIVATE_NETWORK" ] || exec "$(dirname "$0")/../scripts/private-network.sh" "$0" "$@"
CONNECTIONS="${1:-8}"
SECONDS_="${2:-10}"
cd "$(dirname "$0")/.."
TOP="$(pwd)"
[ -x build/bin/corvane-gateway ] && [ -x build/bin/corvane-sim ] || ./scripts/build.sh >/dev/null
WORK="$(mktemp -d)"
SIM=""
LIGHTTPD=""
trap '[ -n "$LIGHTTPD" ] && kill $LIGHTTPD; [ -n "$SIM" ] && kill $SIM; rm -rf "$WORK"' EXIT
cc -O2 -o "$WORK/http_load" bench/startup/http_load.c -lpthread
# The packaged lighttpd drop-in, its paths moved into $WORK.
STATE="$WORK/var/lib/corvane-gateway"
mkdir -p "$WORK/root/cgi-bin" "$STATE/account"
cc -O2 -o "$WORK/root/cgi-bin/static" bench/startup/trivial_cgi.c
ln -s "$TOP/build/bin/corvane-gateway" "$STATE/corvane-gateway"
echo 'bench:$apr1$6jQ4VM/1$e96NiqCrOnVP1wYvcDtoq.' > "$WORK/corvane-gateway.htpasswd"  # htpasswd -nbm bench bench
sed -e "s|/var/lib/corvane-gateway|$STATE|g; s|/etc/lighttpd|$WORK|g" \
  deploy/lighttpd/05-corvane-gateway.conf > "$WORK/corvane-gateway.conf"
# A random high port; lighttpd refuses to start if it is taken.
PORT=$(awk 'BEGIN { srand(); print 20000 + int(rand() * 30000) }')
cat > "$WORK/lighttpd.conf" <<CONF
server.document-root = "$WORK/root"
server.bind = "127.0.0.1"
server.port = $PORT
server.errorlog = "$WORK/error.log"
include "$WORK/corvane-gateway.conf"
# The static CGI behind the same login, so that both pay for it.
\$HTTP["url"] == "/cgi-bin/static" {
    cgi.assign = ( "" => "" )
    auth.backend = "htpasswd"
    auth.backend.htpasswd.userfile = "$WORK/corvane-gateway.htpasswd"
    auth.require = ( "" => ( "method" => "basic", "realm" => "Corvane", "require" => "valid-user" ) )
}
CONF
mkfifo "$WORK/sim.port"
build/bin/corvane-sim --port 0 --tree sim/demo-tree.txt >"$WORK/sim.port" 2>/dev/null &
SIM=$!
read -r SIM_PORT <"$WORK/sim.port"
lighttpd -D -f "$WORK/lighttpd.conf" 2>>"$WORK/error.log" &
LIGHTTPD=$!
for _ in $(seq 50); do
  curl -s -o /dev/null "http://127.0.0.1:$PORT/" && break
  sleep 0.1
done
kill -0 "$LIGHTTPD" 2>/dev/null || { echo "lighttpd did not start:"; cat "$WORK/error.log"; exit 1; }
AUTH=YmVuY2g6YmVuY2g=  # bench:bench
set -- $("$WORK/http_load" "$PORT" /cgi-bin/static "$AUTH" "$CONNECTIONS" "$SECONDS_" "<response>")
STATIC_RPS=$1 STATIC_FAILED=$2
set -- $("$WORK/http_load" "$PORT" "/corvane-gateway?mode=getMetadata&host=127.0.0.1:$SIM_PORT&nodeId=/media/trailer&streamName=info" \
         "$AUTH" "$CONNECTIONS" "$SECONDS_" "<title>Trailer</title>")
GW_RPS=$1 GW_FAILED=$2
echo "$CONNECTIONS connections for $SECONDS_ s each, through lighttpd on 127.0.0.1:"
echo "static CGI:              $STATIC_RPS requests/s, $STATIC_FAILED failed"
echo "gateway getMetadata:     $GW_RPS requests/s, $GW_FAILED failed"
awk -v g="$GW_RPS" -v s="$STATIC_RPS" 'BEGIN { printf "ratio (static/gateway): %.2f\n", s / g }'
