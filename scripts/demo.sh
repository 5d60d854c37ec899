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

. "$TOP/scripts/lib/serve.sh"

RUN="$TOP/build/demo"
rm -rf "$RUN"
mkdir -p "$RUN"
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

cleanup() {
  serve_stop
  echo
  echo "lighttpd and corvane-sim stopped."
}
trap cleanup EXIT
trap 'exit 0' INT TERM

serve_sim "$RUN" sim --discovery-ttl 0
SERVER="127.0.0.1:$SIM_PORT"
# The packaged lighttpd FastCGI drop-in, its paths moved into the demo's
# folder; htpasswd -nbm demo demo.
serve_stage_lighttpd "$RUN" "$PORT" fastcgi 'demo:$apr1$GzYNY6Au$I55QsFtuMGCIeWXlpkC48/'
STATE="$GATEWAY_STATE"
serve_start_lighttpd "$RUN" "$PORT"
URL="http://127.0.0.1:$PORT/corvane-gateway"

echo "corvane-sim serves the demo tree (sim/demo-tree.txt) at $SERVER."
echo "The gateway is served at $URL (user 'demo', password 'demo')."
echo "Account files are kept in $STATE/account."
echo "The page is at http://127.0.0.1:$PORT/corvane/ (user 'demo', password 'demo'); pick the server from its list (or name $SERVER)."
example() {
  echo
  printf '$ curl -u demo:demo'
  printf " '%s'" "$@"
  echo
  curl -s -u demo:demo "$@"
}
# By address alone: discovery finds the sim and its port.
Q="host=127.0.0.1"
example "$URL?mode=getServers"
example "$URL?mode=getUser&$Q&nodeId=/"
example --data "mode=saveUser&$Q&nodeId=/&corvaneMetadata=%3Cprefs+theme%3D%22dark%22%2F%3E" "$URL"
example "$URL?mode=loadUser&$Q&nodeId=/"
example "$URL?mode=isAdmin&$Q&nodeId=/"
example "$URL?mode=getChildren&$Q&nodeId=/media&withTypes=1"
example "$URL?mode=getNodeInfo&$Q&nodeId=/media/trailer"
example "$URL?mode=getMetadata&host=$SERVER&nodeId=/,/media/trailer&streamName=info"
example "$URL?mode=getMetadata&host=localhost:OBRAN&nodeId=/media/trailer&streamName=info"
# A live-update stream of /scratch sees the next two writes.
WATCH="$URL?mode=watch&$Q&nodeId=/scratch"
curl -s -N --max-time 3 -u demo:demo "$WATCH" >"$RUN/watch.txt" &
WATCHER=$!
sleep 0.5
example --data "mode=createNode&$Q&nodeId=/scratch&displayName=Dailies&type=FOLDER" "$URL"
example --data "mode=setMetadata&$Q&nodeId=/scratch/Dailies&streamName=notes&corvaneMetadata=%3Cnotes%3Eday+one%3C%2Fnotes%3E" "$URL"
wait "$WATCHER" || true
echo
echo "\$ curl -N -u demo:demo '$WATCH'   (its first 3 s)"
cat "$RUN/watch.txt"
example "$URL?mode=getMetadata&$Q&nodeId=/scratch/Dailies&streamName=notes"
# Writes are POSTs: a link or a GET form on another site must not write.
example "$URL?mode=destroyNodeRecursive&$Q&nodeId=/projects"
example --data "mode=destroyNodeRecursive&$Q&nodeId=/projects" "$URL"
example --data "mode=destroyNode&$Q&nodeId=/scratch/Dailies" "$URL"
example "$URL?mode=getMetadata&$Q&nodeId=/projects&streamName=info"
echo
echo "Serving until Ctrl-C."
wait "$LIGHTTPD_PID"
