#!/bin/sh
# Whole-process cost of one gateway request against a trivial C CGI that
# prints a fixed response: medians of many runs of each, interleaved in
# rounds so that machine noise hits both alike, and their ratio.
# Usage: bench/gateway_startup.sh [RUNS_PER_ROUND] [ROUNDS]
set -e
RUNS="${1:-300}"
ROUNDS="${2:-5}"
cd "$(dirname "$0")/.."
[ -x build/bin/corvane-gateway ] || ./scripts/build.sh >/dev/null
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
cc -O2 -o "$WORK/trivial_cgi" bench/startup/trivial_cgi.c
cc -O2 -o "$WORK/spawn_timer" bench/startup/spawn_timer.c
cd "$WORK"
GATEWAY="$OLDPWD/build/bin/corvane-gateway"
gw="" ; c=""
for _ in $(seq "$ROUNDS"); do
  c="$c $(./spawn_timer "$RUNS" ./trivial_cgi)"
  gw="$gw $(REMOTE_USER=bench ./spawn_timer "$RUNS" "$GATEWAY" mode=getUser host=h nodeId=n)"
done
median() { echo "$@" | tr ' ' '\n' | grep . | sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
C=$(median $c)
GW=$(median $gw)
echo "trivial C CGI:   $C us (median of $ROUNDS rounds of $RUNS runs)"
echo "corvane-gateway: $GW us"
awk -v g="$GW" -v c="$C" 'BEGIN { printf "ratio:           %.2f\n", g / c }'
