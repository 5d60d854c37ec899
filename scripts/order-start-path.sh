#!/bin/sh
# Rewrites gateway/start-order.ld, the list of functions the gateway's link
# puts together because a request runs them. Profiles three requests under
# valgrind's callgrind: getUser from arguments and from a CGI environment,
# and getMetadata of one node from a local corvane-sim, in that order, so
# that the code of the cheapest request comes first. Needs valgrind; then
# rebuild and compare with bench/gateway_startup.sh.
# Usage: scripts/order-start-path.sh
set -e
# The getMetadata request starts server discovery: keep it on this machine.
[ -n "$CORVANE_PRIVATE_NETWORK" ] || exec "$(dirname "$0")/private-network.sh" "$0" "$@"
command -v valgrind >/dev/null || { echo "$0: needs valgrind (apt-get install valgrind)" >&2; exit 1; }
cd "$(dirname "$0")/.."
TOP="$(pwd)"
./scripts/build.sh >/dev/null
. scripts/lib/serve.sh
WORK="$(mktemp -d)"
trap 'serve_stop; rm -rf "$WORK"' EXIT
serve_sim "$WORK" sim
GATEWAY="$TOP/build/bin/corvane-gateway"
CALLGRIND="valgrind --tool=callgrind --demangle=no"
cd "$WORK"
REMOTE_USER=profile $CALLGRIND --callgrind-out-file=1.cg "$GATEWAY" mode=getUser host=h nodeId=n >/dev/null 2>&1
REMOTE_USER=profile REQUEST_METHOD=GET QUERY_STRING="mode=getUser&host=h&nodeId=n" \
  $CALLGRIND --callgrind-out-file=2.cg "$GATEWAY" >/dev/null 2>&1
REMOTE_USER=profile REQUEST_METHOD=GET \
  QUERY_STRING="mode=getMetadata&host=127.0.0.1:$SIM_PORT&nodeId=/media/trailer&streamName=info" \
  $CALLGRIND --callgrind-out-file=3.cg "$GATEWAY" >3.out 2>&1
grep -q "<response><" 3.out && ! grep -q "<error>" 3.out || { echo "$0: the getMetadata request failed:" >&2; cat 3.out >&2; exit 1; }
python3 "$TOP/scripts/lib/start_order.py" "$GATEWAY" "$TOP/build/gateway/corvane-gateway.map" \
  1.cg 2.cg 3.cg >"$TOP/gateway/start-order.ld"
echo "wrote gateway/start-order.ld: $(grep -c '^    \*' "$TOP/gateway/start-order.ld") input sections"
