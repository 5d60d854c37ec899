#!/bin/sh
# Requests per second and median latency under lighttpd with a bounded
# load (CONNECTIONS at once for SECONDS), side by side: a static CGI that
# prints a fixed response, and getMetadata of one node from a local
# corvane-sim through the gateway as CGI and as FastCGI (the packaged
# drop-ins, at two URLs of one lighttpd). Everything runs on 127.0.0.1 and
# stops by itself.
# BUILD names the build directory (default build/).
# Usage: bench/lighttpd_load.sh [CONNECTIONS] [SECONDS]
set -e
# Requests start server discovery: keep its multicast on this machine.
[ -n "$CORVANE_PRIVATE_NETWORK" ] || exec "$(dirname "$0")/../scripts/private-network.sh" "$0" "$@"
CONNECTIONS="${1:-8}"
SECONDS_="${2:-10}"
. "$(dirname "$0")/common.sh"
bench_tools http_load trivial_cgi
serve_sim "$WORK" sim
PORT=$(serve_random_port)
# Both packaged drop-ins in one server; htpasswd -nbm bench bench.
serve_stage_lighttpd "$WORK" "$PORT" "cgi fastcgi" 'bench:$apr1$6jQ4VM/1$e96NiqCrOnVP1wYvcDtoq.'
mkdir -p "$WORK/root/cgi-bin"
cp "$TOOLS/trivial_cgi" "$WORK/root/cgi-bin/static"
cat >> "$WORK/lighttpd.conf" <<CONF
# The static CGI behind the same login, checked the same way (the FastCGI
# drop-in's password cache), so that both pay for it alike.
\$HTTP["url"] == "/cgi-bin/static" {
    cgi.assign = ( "" => "" )
    auth.backend = "htpasswd"
    auth.backend.htpasswd.userfile = "$WORK/corvane-gateway.htpasswd"
    auth.require = ( "" => ( "method" => "basic", "realm" => "Corvane", "require" => "valid-user" ) )
    auth.cache = ( "max-age" => "60" )
}
CONF
serve_start_lighttpd "$WORK" "$PORT"
AUTH=YmVuY2g6YmVuY2g=  # bench:bench
QUERY="mode=getMetadata&host=127.0.0.1:$SIM_PORT&nodeId=/media/trailer&streamName=info"
load() {
  "$TOOLS/http_load" "$PORT" "$1" "$AUTH" "$CONNECTIONS" "$SECONDS_" "$2"
}
set -- $(load /cgi-bin/static "<response>")
STATIC_RPS=$1 STATIC_FAILED=$2 STATIC_MS=$3
set -- $(load "/corvane-gateway?$QUERY" "<title>Trailer</title>")
CGI_RPS=$1 CGI_FAILED=$2 CGI_MS=$3
set -- $(load "/corvane-gateway-fastcgi?$QUERY" "<title>Trailer</title>")
FCGI_RPS=$1 FCGI_FAILED=$2 FCGI_MS=$3
echo "$CONNECTIONS connections for $SECONDS_ s each, through lighttpd on 127.0.0.1:"
printf '%-22s %12s %10s %7s\n' "" "requests/s" "median ms" "failed"
printf '%-22s %12s %10s %7s\n' "static CGI" "$STATIC_RPS" "$STATIC_MS" "$STATIC_FAILED"
printf '%-22s %12s %10s %7s\n' "gateway CGI" "$CGI_RPS" "$CGI_MS" "$CGI_FAILED"
printf '%-22s %12s %10s %7s\n' "gateway FastCGI" "$FCGI_RPS" "$FCGI_MS" "$FCGI_FAILED"
awk -v f="$FCGI_RPS" -v c="$CGI_RPS" -v s="$STATIC_RPS" \
  'BEGIN { printf "FastCGI / static CGI: %.2fx requests/s; gateway CGI / static CGI: %.2fx\n", f / s, c / s }'
