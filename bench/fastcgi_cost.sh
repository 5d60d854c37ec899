#!/bin/sh
# What one FastCGI request costs the gateway processes: CPU time, context
# switches (voluntary and not, summed over every thread) and, with
# STRACE=1, system calls, per getMetadata of one node from a local
# corvane-sim, under lighttpd with the packaged FastCGI drop-in and
# CONNECTIONS (8) at once for SECONDS (4) after a second of warm-up. The
# counts come from /proc of the gateway processes before and after the
# load, divided by the requests answered, and the same CPU figure for
# corvane-sim and lighttpd; the system calls come from a
# second, shorter load under strace -c -f (slowed by it: only the count per
# request means anything). Everything runs on 127.0.0.1 and stops by
# itself. BUILD names the build directory (default build/).
# Usage: bench/fastcgi_cost.sh [SECONDS] [CONNECTIONS]
set -e
# Requests start server discovery: keep its multicast on this machine.
[ -n "$CORVANE_PRIVATE_NETWORK" ] || exec "$(dirname "$0")/../scripts/private-network.sh" "$0" "$@"
SECONDS_="${1:-4}"
CONNECTIONS="${2:-8}"
. "$(dirname "$0")/common.sh"
bench_tools http_load
serve_sim "$WORK" sim
QUERY="mode=getMetadata&host=127.0.0.1:$SIM_PORT&nodeId=/media/trailer&streamName=info"
PORT=$(serve_random_port)
serve_stage_lighttpd "$WORK" "$PORT" fastcgi 'bench:$apr1$6jQ4VM/1$e96NiqCrOnVP1wYvcDtoq.'  # htpasswd -nbm bench bench
serve_start_lighttpd "$WORK" "$PORT"
AUTH=YmVuY2g6YmVuY2g=  # bench:bench
# load SECONDS: the requests answered (from the rate http_load prints).
load() {
  _seconds=$1
  set -- $("$TOOLS/http_load" "$PORT" "/corvane-gateway?$QUERY" "$AUTH" "$CONNECTIONS" "$_seconds" "<title>Trailer</title>")
  [ "$2" = 0 ] || { echo "$2 requests failed" >&2; exit 1; }
  echo $(($1 * _seconds))
}
# CPU ticks and context switches of every gateway thread: "ticks voluntary
# involuntary".
sample() {
  for _pid in $(bench_gateways); do
    awk '{ print $14 + $15, 0, 0 }' "/proc/$_pid/stat"
    cat /proc/"$_pid"/task/*/status | awk '/^voluntary_ctxt_switches/ { print 0, $2, 0 }
      /^nonvoluntary_ctxt_switches/ { print 0, 0, $2 }'
  done | awk '{ t += $1; v += $2; n += $3 } END { print t, v, n }'
}
# CPU ticks of one process.
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
load 1 >/dev/null
set -- $(sample)
BEFORE_TICKS=$1 BEFORE_VOL=$2 BEFORE_INVOL=$3
BEFORE_SIM=$(ticks "$SIM_PID") BEFORE_LIGHTTPD=$(ticks "$LIGHTTPD_PID")
REQUESTS=$(load "$SECONDS_")
set -- $(sample)
SIM_TICKS=$(($(ticks "$SIM_PID") - BEFORE_SIM)) LIGHTTPD_TICKS=$(($(ticks "$LIGHTTPD_PID") - BEFORE_LIGHTTPD))
HZ=$(getconf CLK_TCK)
echo "$CONNECTIONS connections, $SECONDS_ s, $REQUESTS requests, $(bench_gateways | wc -l) gateway processes:"
awk -v r="$REQUESTS" -v hz="$HZ" -v t=$(($1 - BEFORE_TICKS)) -v v=$(($2 - BEFORE_VOL)) -v n=$(($3 - BEFORE_INVOL)) \
  'BEGIN { printf "per request: %.1f us CPU, %.2f context switches (%.2f voluntary, %.2f involuntary)\n",
    t * 1e6 / hz / r, (v + n) / r, v / r, n / r }'
# What the rest of the machine spends on the same requests.
awk -v r="$REQUESTS" -v hz="$HZ" -v s="$SIM_TICKS" -v l="$LIGHTTPD_TICKS" \
  'BEGIN { printf "elsewhere per request: %.1f us CPU in corvane-sim, %.1f us in lighttpd\n", s * 1e6 / hz / r, l * 1e6 / hz / r }'
if [ "${STRACE:-0}" = 1 ]; then
  _traces=""
  for _pid in $(bench_gateways); do
    strace -c -f -p "$_pid" -o "$WORK/strace.$_pid" 2>/dev/null &
    _traces="$_traces $!"
  done
  sleep 1  # strace attaches to every thread
  REQUESTS=$(load 2)
  # shellcheck disable=SC2086
  kill -INT $_traces
  # shellcheck disable=SC2086
  wait $_traces || true
  cat "$WORK"/strace.* | awk -v r="$REQUESTS" '$NF != "total" && $4 ~ /^[0-9]+$/ { calls[$NF] += $4; all += $4 }
    END { printf "per request: %.1f system calls:", all / r
          for (c in calls) if (calls[c] / r >= 0.05) printf " %s %.2f", c, calls[c] / r; print "" }'
fi
