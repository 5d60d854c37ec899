#!/bin/sh
# Whole-process cost of a gateway getMetadata when the server is found by
# discovery, in one run, in a private network namespace:
#   - a local corvane-sim answering discovery: by host and port, by host
#     alone, and the trivial C CGI as the yardstick;
#   - a web host with no media server of its own: the sim on a second
#     virtual host (a namespace behind a veth pair), reached by address and
#     port and by address alone, so the local search must fail first;
#   - no server answering discovery at all (a silent sim): what a request
#     costs when only the direct address works.
# Medians of many runs, interleaved in rounds so machine noise hits all alike.
# BUILD names the build directory (default build/).
# Usage: bench/gateway_discovery.sh [RUNS_PER_ROUND] [ROUNDS]
set -e
# Discovery multicasts on every interface: keep it on this machine.
[ -n "$CORVANE_PRIVATE_NETWORK" ] || exec "$(dirname "$0")/../scripts/private-network.sh" "$0" "$@"
RUNS="${1:-100}"
ROUNDS="${2:-3}"
. "$(dirname "$0")/common.sh"
bench_tools trivial_cgi spawn_timer

# The second host: a namespace of our own behind a veth pair.
unshare --net sleep 3600 &
HOLDER=$!
SERVE_PIDS="$SERVE_PIDS $HOLDER"
sleep 0.2
ip link add cvb0 type veth peer name eth0 netns "$HOLDER"
ip addr add 10.77.0.1/24 dev cvb0
ip link set cvb0 up
IN_REMOTE="nsenter --target $HOLDER --net"
$IN_REMOTE sh -c 'ip link set lo up && ip addr add 10.77.0.2/24 dev eth0 && ip link set eth0 up &&
                  ip route add 224.0.0.0/4 dev eth0'

serve_sim "$WORK" local
LOCAL=$SIM_PORT
LOCAL_PID=$SIM_PID
cd "$WORK"
GATEWAY="$BUILD/bin/corvane-gateway"
meta() { REMOTE_USER=bench "$TOOLS/spawn_timer" "$RUNS" "$GATEWAY" mode=getMetadata "host=$1" nodeId=/media/trailer streamName=info; }
c=""; port=""; alone=""
for _ in $(seq "$ROUNDS"); do
  c="$c $("$TOOLS/spawn_timer" "$RUNS" "$TOOLS/trivial_cgi")"
  port="$port $(meta "127.0.0.1:$LOCAL")"
  alone="$alone $(meta 127.0.0.1)"
done
kill "$LOCAL_PID"
wait "$LOCAL_PID" 2>/dev/null || true

# Only the remote host has a server.
SERVE_SIM_WRAP="$IN_REMOTE"
serve_sim "$WORK" remote --discovery-interface 10.77.0.2
SERVE_SIM_WRAP=""
REMOTE=$SIM_PORT
REMOTE_PID=$SIM_PID
rport=""; ralone=""
for _ in $(seq "$ROUNDS"); do
  rport="$rport $(meta "10.77.0.2:$REMOTE")"
  ralone="$ralone $(meta 10.77.0.2)"
done

# Nobody answers discovery.
kill "$REMOTE_PID"
wait "$REMOTE_PID" 2>/dev/null || true
serve_sim "$WORK" silent --no-discovery
SILENT=$SIM_PORT
silent=""
for _ in $(seq "$ROUNDS"); do
  silent="$silent $(REMOTE_USER=bench "$TOOLS/spawn_timer" 5 "$GATEWAY" mode=getMetadata "host=127.0.0.1:$SILENT" \
                    nodeId=/media/trailer streamName=info)"
done

median() { echo "$@" | tr ' ' '\n' | grep . | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
C=$(median $c)
show() { awk -v t="$2" -v c="$C" -v what="$1" 'BEGIN { printf "%-44s %8d us  %5.2f x trivial CGI\n", what, t, t / c }'; }
P=$(median $port); A=$(median $alone)
echo "medians of $ROUNDS rounds of $RUNS runs"
show "trivial C CGI" "$C"
show "local server, host and port" "$P"
show "local server, host alone" "$A"
awk -v a="$A" -v p="$P" 'BEGIN { printf "%-44s %8.2f\n", "host alone / host and port", a / p }'
show "remote server only, host and port" "$(median $rport)"
show "remote server only, host alone" "$(median $ralone)"
show "no server answers discovery (5 runs)" "$(median $silent)"
