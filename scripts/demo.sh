#!/bin/sh
# Installs what is needed, builds, starts corvane-sim (a stand-in media
# server) with the demo tree on 127.0.0.1, and serves the gateway through
# lighttpd on 127.0.0.1:PORT (default 8080) as FastCGI (the setup the
# README recommends for busy sites) until Ctrl-C. Prints example
# requests for every mode with their real answers first. Server discovery
# is confined to this machine by a network file of the demo's own.
set -e
PORT="${1:-8080}"
cd "$(dirname "$0")/.."
TOP="$(pwd)"
./scripts/install-deps.sh
./scripts/build.sh >/dev/null

RUN="$TOP/build/demo"
rm -rf "$RUN"
# The packaged lighttpd FastCGI drop-in, its paths moved into the demo's
# folder.
STATE="$RUN/var/lib/corvane-gateway"
mkdir -p "$RUN/root" "$STATE/account"
ln -s "$TOP/build/bin/corvane-gateway" "$STATE/corvane-gateway"
echo 'demo:$apr1$GzYNY6Au$I55QsFtuMGCIeWXlpkC48/' > "$RUN/corvane-gateway.htpasswd"  # htpasswd -nbm demo demo
sed -e "s|/var/lib/corvane-gateway|$STATE|g; s|/etc/lighttpd|$RUN|g; s|/run/lighttpd/|$RUN/|g" \
  "$TOP/deploy/lighttpd/05-corvane-gateway-fastcgi.conf" > "$RUN/corvane-gateway.conf"
# The page is served from the source tree.
sed -i "s|/usr/share/corvane-gateway/web|$TOP/web|g" "$RUN/corvane-gateway.conf"
# Discovery stays on this machine: a time-to-live of 0 keeps every
# multicast datagram on the host (the kernel loops it back to local
# listeners and sends nothing). Where lo can multicast, it is the only
# interface used; elsewhere (lo lacks the flag on a stock system) the
# interfaces that can are used, with nothing leaving them.
LO_FLAGS=$(cat /sys/class/net/lo/flags 2>/dev/null || echo 0)
if [ $((LO_FLAGS & 0x1000)) -ne 0 ]; then MULTICAST=lo; else MULTICAST=; fi
cat > "$RUN/network.cfg" <<CFG
[Interfaces]
Multicast = $MULTICAST
[SelfDiscovery]
TTL = 0
CFG
export CORVANE_NETWORK_CONFIG="$RUN/network.cfg"
cat > "$RUN/lighttpd.conf" <<CONF
server.document-root = "$RUN/root"
server.bind = "127.0.0.1"
server.port = $PORT
server.errorlog = "$RUN/error.log"
include "$RUN/corvane-gateway.conf"
mimetype.assign = ( ".html" => "text/html; charset=utf-8", ".css" => "text/css; charset=utf-8",
                    ".js" => "text/javascript; charset=utf-8" )
CONF

SIM=""
LIGHTTPD=""
cleanup() {
  [ -n "$LIGHTTPD" ] && kill "$LIGHTTPD" 2>/dev/null && wait "$LIGHTTPD" 2>/dev/null
  [ -n "$SIM" ] && kill "$SIM" 2>/dev/null && wait "$SIM" 2>/dev/null
  echo
  echo "lighttpd and corvane-sim stopped."
}
trap cleanup EXIT
trap 'exit 0' INT TERM

# The sim prints the port it took on its first line.
mkfifo "$RUN/sim.port"
"$TOP/build/bin/corvane-sim" --port 0 --tree "$TOP/sim/demo-tree.txt" --discovery-ttl 0 >"$RUN/sim.port" 2>"$RUN/sim.log" &
SIM=$!
read -r SIM_PORT <"$RUN/sim.port"
SERVER="127.0.0.1:$SIM_PORT"

# The gateway's own complaints (standard error) go to the error log.
lighttpd -D -f "$RUN/lighttpd.conf" 2>>"$RUN/error.log" &
LIGHTTPD=$!

URL="http://127.0.0.1:$PORT/corvane-gateway"
for _ in $(seq 50); do
  curl -s -o /dev/null "$URL" && break
  sleep 0.1
done
kill -0 "$LIGHTTPD" 2>/dev/null || { cat "$RUN/error.log"; exit 1; }

echo "corvane-sim serves the demo tree (sim/demo-tree.txt) at $SERVER."
echo "The gateway is served at $URL (user 'demo', password 'demo')."
echo "Account files are kept in $STATE/account."
echo "The page is at http://127.0.0.1:$PORT/corvane/ (user 'demo', password 'demo'); name the server $SERVER there."
example() {
  echo
  printf '$ curl -u demo:demo'
  printf " '%s'" "$@"
  echo
  curl -s -u demo:demo "$@"
}
# By address alone: discovery finds the sim and its port.
Q="host=127.0.0.1"
example "$URL?mode=getUser&$Q&nodeId=/"
example --data "mode=saveUser&$Q&nodeId=/&corvaneMetadata=%3Cprefs+theme%3D%22dark%22%2F%3E" "$URL"
example "$URL?mode=loadUser&$Q&nodeId=/"
example "$URL?mode=isAdmin&$Q&nodeId=/"
example "$URL?mode=getMetadata&host=$SERVER&nodeId=/,/media/trailer&streamName=info"
example "$URL?mode=getMetadata&host=localhost:OBRAN&nodeId=/media/trailer&streamName=info"
example "$URL?mode=createNode&$Q&nodeId=/scratch&displayName=Dailies&type=FOLDER"
example --data "mode=setMetadata&$Q&nodeId=/scratch/Dailies&streamName=notes&corvaneMetadata=%3Cnotes%3Eday+one%3C%2Fnotes%3E" "$URL"
example "$URL?mode=getMetadata&$Q&nodeId=/scratch/Dailies&streamName=notes"
example "$URL?mode=destroyNodeRecursive&$Q&nodeId=/projects"
example "$URL?mode=destroyNode&$Q&nodeId=/scratch/Dailies"
example "$URL?mode=getMetadata&$Q&nodeId=/projects&streamName=info"
echo
echo "Serving until Ctrl-C."
wait "$LIGHTTPD"
