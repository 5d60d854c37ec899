#!/bin/sh
# Installs from Debian's packages what building, packaging and testing
# need: compiler and build tools, the libraries, GoogleTest and Google
# Benchmark, the three web servers the tests run the gateway under
# (lighttpd, Apache, nginx with fcgiwrap or spawn-fcgi) and the tools the
# tests call.
# Idempotent and quiet; run as root.
#
# The web servers are wanted as programs only: the tests start them as
# children of their own on 127.0.0.1. Their packages would start system
# services and enable them at boot, so a policy-rc.d refuses every start
# during the install, and whatever the install enabled is disabled again.
#
# The other web servers, what packaging and the install tests call
# (lintian checks the packages, systemd-analyze rates the service's
# sandbox, doxygen makes the library's API reference for its package),
# the headless browser the page's test drives, Node, whose test runner
# runs the page's unit tests, and the metrics parser the status test reads
# the gateway's metrics text with:
MORE_PACKAGES="apache2 apache2-utils nginx fcgiwrap pkg-config dpkg-dev file lintian systemd chromium chromium-driver \
python3-selenium nodejs python3-prometheus-client doxygen"
# The FastCGI side: the library the gateway links, spawn-fcgi for nginx and
# Apache, cgi-fcgi for trying a FastCGI gateway from a shell.
FASTCGI_PACKAGES="libfcgi-dev libfcgi-bin spawn-fcgi"
set -e
PACKAGES="cmake make g++ libtinyxml-dev libboost-dev uuid-dev libgtest-dev libgmock-dev \
libbenchmark-dev zlib1g-dev lighttpd curl iproute2 xfsprogs"
missing=""
for p in $PACKAGES $MORE_PACKAGES $FASTCGI_PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -n "$missing" ] || exit 0

# What starts at boot: systemd's wants links and the SysV start links.
enabled() {
  ls -d /etc/systemd/system/*.wants/* /etc/rc[S2345].d/S* 2>/dev/null || true
}
before=$(enabled)

POLICY=/usr/sbin/policy-rc.d
SAVED=""
if [ -e "$POLICY" ]; then
  SAVED="$POLICY.corvane-saved"
  mv "$POLICY" "$SAVED"
fi
restore() {
  rm -f "$POLICY"
  if [ -n "$SAVED" ]; then mv "$SAVED" "$POLICY"; fi
}
trap restore EXIT
trap 'exit 1' INT TERM HUP
printf '#!/bin/sh\n# Refuses service starts while scripts/install-deps.sh installs.\nexit 101\n' >"$POLICY"
chmod 755 "$POLICY"

export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends $missing >/dev/null

for link in $(enabled); do
  printf '%s\n' "$before" | grep -qxF "$link" && continue
  name=$(basename "$link")
  case "$link" in
  /etc/systemd/*)
    if command -v systemctl >/dev/null; then
      systemctl disable --quiet "$name" 2>/dev/null || deb-systemd-helper disable "$name"
    else
      deb-systemd-helper disable "$name"
    fi ;;
  *) [ ! -e "$link" ] || update-rc.d "${name#S[0-9][0-9]}" disable >/dev/null 2>&1 ;;
  esac
done
left=""
for link in $(enabled); do
  printf '%s\n' "$before" | grep -qxF "$link" || left="$left $link"
done
if [ -n "$left" ]; then
  echo "install-deps.sh: could not disable what the install enabled:$left" >&2
  exit 1
fi
