# Shell functions that start corvane-sim and lighttpd with the packaged
# lighttpd drop-ins, everything on 127.0.0.1: the one way the demo, the
# benchmarks and the browser test stage them. Source this file with TOP
# set to the source tree (BUILD defaults to $TOP/build). Every process
# started is recorded, and serve_stop ends them all.
# shellcheck shell=sh

BUILD="${BUILD:-$TOP/build}"
SERVE_PIDS=""

# serve_sim DIR NAME [OPTION...]: corvane-sim with the demo tree on a free
# port, its standard error in DIR/NAME.log. Sets SIM_PID and SIM_PORT.
# SERVE_SIM_WRAP, when set, is a command prefix (nsenter into another
# namespace, say).
serve_sim() {
  _dir=$1 _name=$2
  shift 2
  rm -f "$_dir/$_name.port"
  mkfifo "$_dir/$_name.port"
  # The sim prints the port it took on its first line.
  $SERVE_SIM_WRAP "$BUILD/bin/corvane-sim" --port 0 --tree "$TOP/sim/demo-tree.txt" "$@" \
    >"$_dir/$_name.port" 2>>"$_dir/$_name.log" &
  SIM_PID=$!
  SERVE_PIDS="$SERVE_PIDS $SIM_PID"
  SIM_PORT=""
  read -r SIM_PORT <"$_dir/$_name.port" || true
  [ -n "$SIM_PORT" ] || { echo "corvane-sim did not start:" >&2; cat "$_dir/$_name.log" >&2; return 1; }
}

# serve_stage_lighttpd DIR PORT KINDS PASSWORD_LINE [POST_ONLY]: writes
# DIR/lighttpd.conf, a server on 127.0.0.1:PORT that includes the packaged
# drop-ins with their paths moved into DIR: KINDS is "cgi", "fastcgi" or
# "cgi fastcgi" (the FastCGI one then answers at /corvane-gateway-fastcgi
# and leaves the page to the CGI one). The page comes from the source
# tree. PASSWORD_LINE is an htpasswd line; POST_ONLY set to 1 lets only
# POST requests through. Append to DIR/lighttpd.conf before starting to
# add to it. Sets GATEWAY_STATE, the gateway's working directory.
serve_stage_lighttpd() {
  _dir=$1 _port=$2 _kinds=$3 _password=$4 _post=${5:-0}
  GATEWAY_STATE="$_dir/var/lib/corvane-gateway"
  mkdir -p "$_dir/root" "$GATEWAY_STATE/account"
  ln -sf "$BUILD/bin/corvane-gateway" "$GATEWAY_STATE/corvane-gateway"
  echo "$_password" >"$_dir/corvane-gateway.htpasswd"
  _moves="s|/var/lib/corvane-gateway|$GATEWAY_STATE|g; s|/etc/lighttpd|$_dir|g; s|/run/lighttpd/|$_dir/|g"
  _moves="$_moves; s|/usr/share/corvane-gateway/web|$TOP/web|g"
  [ "$_post" = 1 ] && _moves="$_moves; s|#POST-only ||"
  cat >"$_dir/lighttpd.conf" <<CONF
server.document-root = "$_dir/root"
server.bind = "127.0.0.1"
server.port = $_port
server.errorlog = "$_dir/error.log"
mimetype.assign = ( ".html" => "text/html; charset=utf-8", ".css" => "text/css; charset=utf-8",
                    ".js" => "text/javascript; charset=utf-8" )
CONF
  for _kind in $_kinds; do
    case "$_kind" in
      cgi) sed -e "$_moves" "$TOP/deploy/lighttpd/05-corvane-gateway.conf" >"$_dir/corvane-gateway.conf" ;;
      fastcgi) if [ "$_kinds" = fastcgi ]; then
          sed -e "$_moves" "$TOP/deploy/lighttpd/05-corvane-gateway-fastcgi.conf" >"$_dir/corvane-gateway-fastcgi.conf"
        else  # beside the CGI one: a path of its own, and the page left to the other
          sed -e "$_moves" -e 's|"/corvane-gateway"|"/corvane-gateway-fastcgi"|g; /=~ "\/corvane-gateway\/"/d' \
            -e '/^# The page at \/corvane\//,$d' \
            "$TOP/deploy/lighttpd/05-corvane-gateway-fastcgi.conf" >"$_dir/corvane-gateway-fastcgi.conf"
        fi
        _kind=cgi-fastcgi ;;
      *) echo "serve_stage_lighttpd: unknown kind $_kind" >&2; return 1 ;;
    esac
    echo "include \"$_dir/corvane-gateway${_kind#cgi}.conf\"" >>"$_dir/lighttpd.conf"
  done
}

# serve_start_lighttpd DIR PORT: starts lighttpd on what serve_stage_lighttpd
# wrote and waits until it answers. Sets LIGHTTPD_PID. The gateway's own
# complaints (its standard error) go to DIR/error.log.
serve_start_lighttpd() {
  lighttpd -D -f "$1/lighttpd.conf" 2>>"$1/error.log" &
  LIGHTTPD_PID=$!
  SERVE_PIDS="$SERVE_PIDS $LIGHTTPD_PID"
  for _ in $(seq 100); do
    curl -s -o /dev/null "http://127.0.0.1:$2/" && return 0
    kill -0 "$LIGHTTPD_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "lighttpd did not start:" >&2
  cat "$1/error.log" >&2
  return 1
}

# A random high port; lighttpd refuses to start if it is taken.
serve_random_port() {
  awk 'BEGIN { srand(); print 20000 + int(rand() * 30000) }'
}

serve_stop() {
  for _pid in $SERVE_PIDS; do
    kill "$_pid" 2>/dev/null || true
  done
  for _pid in $SERVE_PIDS; do
    wait "$_pid" 2>/dev/null || true
  done
  SERVE_PIDS=""
}
