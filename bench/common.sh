# Sourced by the benchmark scripts after they entered their private
# network: moves to the source tree, sets TOP and BUILD (the build
# directory, $TOP/build unless BUILD is set; built first when it is the
# default and holds no programs yet), loads scripts/lib/serve.sh and makes
# WORK, a scratch directory removed, with everything started, on exit.
# shellcheck shell=sh
cd "$(dirname "$0")/.."
TOP="$(pwd)"
BUILD="${BUILD:-$TOP/build}"
if ! [ -x "$BUILD/bin/corvane-gateway" ] || ! [ -x "$BUILD/bin/corvane-sim" ]; then
  [ "$BUILD" = "$TOP/build" ] || { echo "no corvane-gateway and corvane-sim in $BUILD/bin" >&2; exit 1; }
  ./scripts/build.sh >/dev/null
fi
. scripts/lib/serve.sh
WORK="$(mktemp -d)"
trap 'serve_stop; rm -rf "$WORK"' EXIT
# The bench tools (bench/load_tools and dio_copy), built by CMake.
TOOLS="$BUILD/bin/bench"

# bench_tools NAME...: builds the tools named that $TOOLS lacks.
bench_tools() {
  _missing=""
  for _tool in "$@"; do
    [ -x "$TOOLS/$_tool" ] || _missing="$_missing $_tool"
  done
  # shellcheck disable=SC2086
  [ -z "$_missing" ] || cmake --build "$BUILD" --target $_missing >/dev/null
}

# bench_fastcgi_block URL PROGRAM SOCKET [ENVIRONMENT]: the FastCGI drop-in's
# block for /corvane-gateway, as serve_stage_lighttpd staged it in
# $WORK/corvane-gateway-fastcgi.conf, moved to URL and serving PROGRAM on
# SOCKET: the same processes, time-outs, login and password cache.
# ENVIRONMENT, when given, replaces the contents of its bin-environment.
bench_fastcgi_block() {
  awk -v url="$1" -v program="$2" -v socket="$3" -v environment="$4" '
    /^\$HTTP\["url"\] == "\/corvane-gateway" \{/ { inside = 1 }
    inside {
      gsub(/"\/corvane-gateway"/, "\"" url "\"")
      if ($1 == "\"bin-path\"") sub(/=> ".*"/, "=> \"" program "\"")
      if ($1 == "\"socket\"") sub(/=> ".*"/, "=> \"" socket "\"")
      if ($1 == "\"bin-environment\"" && environment != "") sub(/=> \(.*\)/, "=> ( " environment " )")
      print
      if ($0 == "}") exit
    }' "$WORK/corvane-gateway-fastcgi.conf"
}

# bench_silent PORT: starts silent_listener (bench/load_tools) on
# 127.0.0.1:PORT, 0 for any free port. Sets SILENT_PID and SILENT_PORT.
bench_silent() {
  bench_tools silent_listener
  rm -f "$WORK/silent.port"
  mkfifo "$WORK/silent.port"
  "$TOOLS/silent_listener" "$1" >"$WORK/silent.port" &
  SILENT_PID=$!
  SERVE_PIDS="$SERVE_PIDS $SILENT_PID"
  SILENT_PORT=""
  read -r SILENT_PORT <"$WORK/silent.port" || true
  [ -n "$SILENT_PORT" ] || { echo "silent_listener did not start" >&2; return 1; }
}

# The gateway processes lighttpd started.
bench_gateways() {
  for _pid in $(pgrep -P "$LIGHTTPD_PID"); do
    [ "$(readlink "/proc/$_pid/exe")" = "$(readlink -f "$BUILD/bin/corvane-gateway")" ] && echo "$_pid"
  done
  return 0
}

# bench_wait_idle SECONDS: waits until the gateway processes hold no
# connection from lighttpd, that is, no request is left in them; fails
# after SECONDS. A request's connection is a connected local stream
# socket (the listening one is not connected).
bench_wait_idle() {
  _end=$(($(date +%s) + $1))
  while [ "$(date +%s)" -le "$_end" ]; do
    # Inodes of connected local stream sockets: type 0001, state 03.
    _connected=$(awk '$5 == "0001" && $6 == "03" { print $7 }' /proc/net/unix)
    _busy=0
    for _pid in $(bench_gateways); do
      for _fd in /proc/"$_pid"/fd/*; do
        _inode=$(readlink "$_fd" 2>/dev/null | sed -n 's/^socket:\[\([0-9]*\)\]$/\1/p')
        [ -n "$_inode" ] && echo "$_connected" | grep -qx "$_inode" && _busy=1
      done
    done
    [ "$_busy" = 0 ] && return 0
    sleep 0.1
  done
  return 1
}
