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

# serve_stage_lighttpd DIR PORT KINDS PASSWORD_LINE: writes
# DIR/lighttpd.conf, a server on 127.0.0.1:PORT that includes the packaged
# drop-ins with their paths moved into DIR: KINDS is "cgi", "fastcgi" or
# "cgi fastcgi" (the FastCGI one then answers at /corvane-gateway-fastcgi
# and leaves the page to the CGI one). The page comes from the source
# tree. PASSWORD_LINE is an htpasswd line. Append to DIR/lighttpd.conf
# before starting to add to it. Sets GATEWAY_STATE, the gateway's working directory.
serve_stage_lighttpd() {
  _dir=$1 _port=$2 _kinds=$3 _password=$4
  GATEWAY_STATE="$_dir/var/lib/corvane-gateway"
  mkdir -p "$_dir/root" "$GATEWAY_STATE/account"
  ln -sf "$BUILD/bin/corvane-gateway" "$GATEWAY_STATE/corvane-gateway"
  echo "$_password" >"$_dir/corvane-gateway.htpasswd"
  _moves="s|/var/lib/corvane-gateway|$GATEWAY_STATE|g; s|/etc/lighttpd|$_dir|g; s|/run/lighttpd/|$_dir/|g"
  _moves="$_moves; s|/usr/share/corvane-gateway/web|$TOP/web|g"
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

# serve_replace FILE FROM TO: replaces every FROM in FILE by TO, both taken
# literally (TO may hold newlines and tabs written as \n and \t); fails when FROM is not
# there, so that a changed stock file is noticed rather than half edited.
serve_replace() {
  FROM="$2" TO="$3" awk '
    { text = text $0 "\n" }
    END {
      from = ENVIRON["FROM"]; to = ENVIRON["TO"]; gsub(/\\n/, "\n", to); gsub(/\\t/, "\t", to)
      out = ""; n = 0
      while ((at = index(text, from)) > 0) {
        out = out substr(text, 1, at - 1) to; text = substr(text, at + length(from)); n++
      }
      printf "%s%s", out, text
      exit n == 0
    }' "$1" >"$1.new" || { rm -f "$1.new"; echo "'$2' is not in $1" >&2; return 1; }
  mv "$1.new" "$1"
}

# serve_stage_stock KIND DIR PORT: a Debian web server from its
# stock configuration (copied from /etc) with our drop-in from deploy/
# enabled as the README says, on 127.0.0.1:PORT. KIND is lighttpd,
# apache2 or nginx, with "-fastcgi" for the FastCGI drop-in. DIR stands
# for / : it is the document root (the worst a deployer could pick), and
# what the package and the drop-in place move into it: the program in
# usr/bin, the page in usr/share, its working directory (the link to the
# program, account/), the password file with alice:secret, logs and sockets. Sets SERVE_ARGV (the
# server's command line; DIR holds no blanks), SERVE_HELPER (the
# command line of the socket server it needs, if any), SERVE_HELPER_ALLOWED
# (the CORVANE_ALLOWED_SERVERS the drop-in's spawn-fcgi command sets, for
# that server's environment), SERVE_SOCKET (where that server listens) and
# GATEWAY_STATE.
serve_stage_stock() {
  _kind=$1 _dir=$2 _port=$3
  _server=${_kind%-fastcgi}
  _etc="$_dir/etc/$_server"
  _var="$_dir/var"
  GATEWAY_STATE="$_var/lib/corvane-gateway"
  [ -d "$_etc" ] || {
    mkdir -p "$_dir/etc" "$GATEWAY_STATE/account" "$_var/log" "$_var/run" "$_var/run/socks"
    chmod 755 "$_dir"
    chmod 770 "$GATEWAY_STATE/account"
    # The program goes where the package puts it: the service user may not
    # reach into the build tree (a clone in root's home, say).
    install -D "$BUILD/bin/corvane-gateway" "$_dir/usr/bin/corvane-gateway"
    mkdir -p "$_dir/usr/share/corvane-gateway"
    cp -R "$TOP/web" "$_dir/usr/share/corvane-gateway/web"
    ln -s "$_dir/usr/bin/corvane-gateway" "$GATEWAY_STATE/corvane-gateway"
    cp -RP "/etc/$_server" "$_dir/etc/"  # links stay links
    # htpasswd -nbm alice secret: the format and hash the README's htpasswd makes.
    echo 'alice:$apr1$CpJn4UuP$dobUsmDAXED1lpfvjf9m6/' >"$_etc/corvane-gateway.htpasswd"
    # Run as root, the servers switch to www-data as their services do;
    # the account store is the package's, root standing in for its owner.
    [ "$(id -u)" -ne 0 ] || { chown www-data:www-data "$_var/log" "$_var/run" && chgrp www-data "$GATEWAY_STATE/account"; }
  }
  _suffix=""; [ "$_kind" = "$_server" ] || _suffix=-fastcgi
  case "$_server" in
    lighttpd) _drop="$TOP/deploy/lighttpd/05-corvane-gateway$_suffix.conf"
              _target="conf-available/05-corvane-gateway$_suffix.conf" ;;
    apache2) _drop="$TOP/deploy/apache2/corvane-gateway.conf"  # one drop-in for both
             _target="conf-available/corvane-gateway.conf" ;;
    nginx) _drop="$TOP/deploy/nginx/corvane-gateway$_suffix.conf"
           _target="snippets/corvane-gateway$_suffix.conf" ;;
    *) echo "serve_stage_stock: unknown kind $_kind" >&2; return 1 ;;
  esac
  # The drop-in as shipped, its paths moved into DIR.
  rm -f "$_etc/$_target"
  cp "$_drop" "$_etc/$_target"
  serve_replace "$_etc/$_target" /var/lib/corvane-gateway "$GATEWAY_STATE"
  serve_replace "$_etc/$_target" "/etc/$_server" "$_etc"
  serve_replace "$_etc/$_target" /usr/share/corvane-gateway/web "$_dir/usr/share/corvane-gateway/web"
  SERVE_HELPER="" SERVE_HELPER_ALLOWED=""
  _socket=/run/corvane-gateway.socket
  case "$_kind" in
    lighttpd-fastcgi) serve_replace "$_etc/$_target" /run/lighttpd/ "$_var/run/" ;;
    nginx) _socket=/run/fcgiwrap.socket
           SERVE_HELPER="/usr/sbin/fcgiwrap -f -s unix:$_var$_socket" ;;
    *-fastcgi) SERVE_HELPER="/usr/bin/spawn-fcgi -n -s $_var$_socket -d $GATEWAY_STATE -- $GATEWAY_STATE/corvane-gateway"
               SERVE_HELPER_ALLOWED=$(sed -n "s/^#  *CORVANE_ALLOWED_SERVERS='\([^']*\)'.*/\1/p" "$_drop")
               [ -n "$SERVE_HELPER_ALLOWED" ] || { echo "$_drop sets no CORVANE_ALLOWED_SERVERS for spawn-fcgi" >&2; return 1; } ;;
  esac
  SERVE_SOCKET="$_var$_socket"
  [ -z "$SERVE_HELPER" ] || serve_replace "$_etc/$_target" "$_socket" "$SERVE_SOCKET"
  [ "$_kind" != apache2-fastcgi ] || serve_replace "$_etc/$_target" "#FastCGI " ""
  _enable() {  # what a2enmod, a2enconf and lighty-enable-mod do
    ln -sf "../$1" "$_etc/$2/$(basename "$1")"
  }
  _stock() {  # a fresh copy of the stock file $1 as $2, to edit
    rm -f "$_etc/$2"
    cp "/etc/$_server/$1" "$_etc/$2"
  }
  case "$_server" in
    lighttpd)
      # With Debian's CGI module enabled too: the two must not clash.
      _enable "$_target" conf-enabled
      _enable conf-available/10-cgi.conf conf-enabled
      _stock lighttpd.conf lighttpd.conf
      serve_replace "$_etc/lighttpd.conf" /etc/lighttpd "$_etc"
      serve_replace "$_etc/lighttpd.conf" /var/www/html "$_dir"
      serve_replace "$_etc/lighttpd.conf" "server.port                 = 80" \
        "server.port = $_port\nserver.bind = \"127.0.0.1\""
      serve_replace "$_etc/lighttpd.conf" 'include_shell "/usr/share/lighttpd/use-ipv6.pl " + server.port' ""
      serve_replace "$_etc/lighttpd.conf" /var/log/lighttpd "$_var/log"
      serve_replace "$_etc/lighttpd.conf" /run/lighttpd.pid "$_var/run/lighttpd.pid"
      serve_replace "$_etc/lighttpd.conf" /var/cache/lighttpd/uploads "$_var/run"
      SERVE_ARGV="env -i PATH=/usr/sbin:/usr/bin:/bin /usr/sbin/lighttpd -D -f $_etc/lighttpd.conf" ;;
    apache2)
      _enable "$_target" conf-enabled
      _enable mods-available/headers.load mods-enabled
      if [ -n "$_suffix" ]; then
        _enable mods-available/proxy.load mods-enabled
        _enable mods-available/proxy_fcgi.load mods-enabled
      else
        _enable mods-available/cgid.load mods-enabled
        _enable mods-available/cgid.conf mods-enabled
      fi
      _stock ports.conf ports.conf
      serve_replace "$_etc/ports.conf" "Listen 80
" "Listen 127.0.0.1:$_port\n"
      _stock apache2.conf apache2.conf
      serve_replace "$_etc/apache2.conf" "<Directory /var/www/>" "ServerName localhost\n<Directory $_dir/>"
      _stock sites-available/000-default.conf sites-available/000-default.conf
      serve_replace "$_etc/sites-available/000-default.conf" "DocumentRoot /var/www/html" "DocumentRoot $_dir"
      # The variables apache2ctl takes from envvars.
      SERVE_ARGV="env -i PATH=/usr/sbin:/usr/bin:/bin LANG=C APACHE_RUN_USER=www-data APACHE_RUN_GROUP=www-data"
      SERVE_ARGV="$SERVE_ARGV APACHE_PID_FILE=$_var/run/pid APACHE_RUN_DIR=$_var/run APACHE_LOCK_DIR=$_var/run"
      SERVE_ARGV="$SERVE_ARGV APACHE_LOG_DIR=$_var/log /usr/sbin/apache2 -d $_etc -DFOREGROUND" ;;
    nginx)
      # The snippet is included in the default site.
      _temp=""  # nginx's own request buffers, instead of /var/lib/nginx
      for _t in client_body fastcgi proxy uwsgi scgi; do _temp="$_temp\t${_t}_temp_path $_var/run/$_t;\n"; done
      _stock nginx.conf nginx.conf
      serve_replace "$_etc/nginx.conf" "user www-data;" "daemon off;\nuser www-data;"
      serve_replace "$_etc/nginx.conf" /etc/nginx "$_etc"
      serve_replace "$_etc/nginx.conf" /run/nginx.pid "$_var/run/nginx.pid"
      serve_replace "$_etc/nginx.conf" /var/log/nginx "$_var/log"
      serve_replace "$_etc/nginx.conf" "http {
" "http {\n$_temp"
      _stock sites-available/default sites-enabled/default
      serve_replace "$_etc/sites-enabled/default" "listen 80 default_server;" "listen 127.0.0.1:$_port default_server;"
      serve_replace "$_etc/sites-enabled/default" "root /var/www/html;" "root $_dir;"
      serve_replace "$_etc/sites-enabled/default" "listen [::]:80 default_server;" ""
      serve_replace "$_etc/sites-enabled/default" "server_name _;" \
        "server_name _;\n\tinclude snippets/$(basename "$_target");"
      SERVE_ARGV="env -i PATH=/usr/sbin:/usr/bin:/bin /usr/sbin/nginx -c $_etc/nginx.conf -p $_etc -e $_var/log/error.log" ;;
  esac
}
