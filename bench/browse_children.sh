#!/bin/sh
# Time of getChildren of a folder of CHILDREN children through the FastCGI
# gateway under lighttpd, against getMetadata of one node, in rounds taken
# in turn (REQUESTS of each a round, one connection kept open by curl).
# Prints each kind's median in milliseconds and their ratio. Everything
# runs on 127.0.0.1 and stops by itself.
# Usage: bench/browse_children.sh [ROUNDS] [REQUESTS] [CHILDREN]
set -e
# Requests start server discovery: keep its multicast on this machine.
[ -n "$CORVANE_PRIVATE_NETWORK" ] || exec "$(dirname "$0")/../scripts/private-network.sh" "$0" "$@"
ROUNDS="${1:-5}"
REQUESTS="${2:-20}"
CHILDREN="${3:-10000}"
cd "$(dirname "$0")/.."
TOP="$(pwd)"
BUILD="${BUILD:-$TOP/build}"
[ -x "$BUILD/bin/corvane-gateway" ] && [ -x "$BUILD/bin/corvane-sim" ] || ./scripts/build.sh >/dev/null
. scripts/lib/serve.sh
WORK="$(mktemp -d)"
trap 'serve_stop; rm -rf "$WORK"' EXIT
awk -v n="$CHILDREN" 'BEGIN {
  print "node / FOLDER Root"; print "node /big FOLDER Big"
  for (i = 1; i <= n; ++i) printf "node /big/c%05d CLIP Clip %d\n", i, i
  print "meta /big/c00001 info <clip><title>One</title></clip>" }' >"$WORK/tree.txt"
serve_sim "$WORK" sim --no-discovery --tree "$WORK/tree.txt"
PORT=$(serve_random_port)
serve_stage_lighttpd "$WORK" "$PORT" fastcgi 'bench:$apr1$6jQ4VM/1$e96NiqCrOnVP1wYvcDtoq.'  # bench:bench
serve_start_lighttpd "$WORK" "$PORT"
URL="http://127.0.0.1:$PORT/corvane-gateway?host=127.0.0.1:$SIM_PORT"
CHILD_URL="$URL&mode=getChildren&nodeId=/big"
META_URL="$URL&mode=getMetadata&nodeId=/big/c00001&streamName=info"
fetch() { curl -sS -u bench:bench "$@"; }
# Both answer in full before anything is timed.
COUNT=$(fetch "$CHILD_URL" | grep -o '<child>' | wc -l)
[ "$COUNT" = "$CHILDREN" ] || { echo "getChildren listed $COUNT children, not $CHILDREN" >&2; exit 1; }
fetch "$META_URL" | grep -q '<title>One</title>' || { echo "getMetadata did not answer the stream" >&2; exit 1; }
# One curl sends a round's requests over one connection and prints each
# one's time in seconds.
round_times() {
  _args=""
  for _ in $(seq "$REQUESTS"); do _args="$_args -o /dev/null $1"; done
  # shellcheck disable=SC2086
  fetch -w '%{time_total}\n' $_args
}
for _ in $(seq "$ROUNDS"); do
  round_times "$META_URL" >>"$WORK/meta.times"
  round_times "$CHILD_URL" >>"$WORK/children.times"
done
median() { sort -g "$1" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] * 1000 }'; }
META_MS=$(median "$WORK/meta.times")
CHILD_MS=$(median "$WORK/children.times")
echo "$ROUNDS rounds of $REQUESTS requests each, FastCGI under lighttpd on 127.0.0.1:"
printf '%-38s %10s\n' "" "median ms"
printf '%-38s %10.2f\n' "getMetadata of one node" "$META_MS"
printf '%-38s %10.2f\n' "getChildren of $CHILDREN children" "$CHILD_MS"
awk -v c="$CHILD_MS" -v m="$META_MS" 'BEGIN { printf "getChildren / getMetadata: %.1fx the time\n", c / m }'
