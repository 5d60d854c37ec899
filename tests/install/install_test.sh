#!/bin/sh
# Uses Corvane the way other projects and machines get it. "install":
# installs the build tree into a temporary prefix and builds a small client
# program against it with find_package(Corvane) and with pkg-config.
# "package": makes the Debian packages, has lintian check them (any error
# or warning fails), unpacks them into a temporary root, builds the program
# against the -dev package and runs the gateway from there. The programs
# run against corvane-sim; run this in a private network namespace (the
# gateway starts discovery).
# Usage: install_test.sh install|package BUILD_DIR
set -e
MODE="$1"
BUILD="$(cd "$2" && pwd)"
HERE="$(cd "$(dirname "$0")" && pwd)"
WORK="$(mktemp -d)"
SIM=""
cleanup() {
  if [ -n "$SIM" ]; then kill "$SIM" 2>/dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT
fail() {
  echo "FAILED: $*" >&2
  exit 1
}

# corvane-sim prints its port on its first line.
mkfifo "$WORK/sim.port"
"$BUILD/bin/corvane-sim" --port 0 --no-discovery --tree "$HERE/../../sim/demo-tree.txt" \
  >"$WORK/sim.port" 2>"$WORK/sim.log" &
SIM=$!
read -r PORT <"$WORK/sim.port" || fail "corvane-sim did not start: $(cat "$WORK/sim.log")"
INFO="<info><administrators>demo,admin</administrators></info>"

check_client() {
  out="$("$1" "127.0.0.1:$PORT")" || fail "$1 failed: $out"
  [ "$out" = "$INFO" ] || fail "$1 printed '$out'"
}
# check_loading ROOT: the gateway installed under ROOT finds its
# administrator-list module and answers isAdmin; without the module, or
# with a libfcgi that lacks its functions, it names what it could not load.
check_loading() {
  gateway="$1/bin/corvane-gateway"
  module="$(find "$1/$LIBDIR/corvane-gateway" -name administrator-list.so)"
  [ -f "$module" ] || fail "no administrator-list.so in $1/$LIBDIR/corvane-gateway"
  out="$(REMOTE_USER=demo "$gateway" mode=isAdmin "host=127.0.0.1:$PORT" nodeId=/)"
  case "$out" in *"<response>true</response>"*) ;; *) fail "isAdmin answered '$out'" ;; esac
  mv "$module" "$WORK/moved.so"
  out="$(REMOTE_USER=demo "$gateway" mode=isAdmin "host=127.0.0.1:$PORT" nodeId=/ 2>/dev/null)"
  mv "$WORK/moved.so" "$module"
  case "$out" in *"<error>"*"Could not load"*"administrator-list.so"*) ;; *) fail "isAdmin without its module answered '$out'" ;; esac
  mkdir -p "$WORK/fake"
  cc -shared -o "$WORK/fake/libfcgi.so.0" -x c /dev/null
  status=0
  LD_LIBRARY_PATH="$WORK/fake" timeout 60 /usr/bin/python3 -c '
import os, socket, sys
listener = socket.socket(socket.AF_UNIX)
listener.bind(sys.argv[2])
listener.listen()
os.dup2(listener.fileno(), 0)
os.execv(sys.argv[1], [sys.argv[1]])' "$gateway" "$WORK/fastcgi.socket" 2>"$WORK/fastcgi.err" || status=$?
  [ "$status" -ne 0 ] && grep -q "libfcgi.so.0" "$WORK/fastcgi.err" ||
    fail "FastCGI with a libfcgi lacking its functions exited $status: $(cat "$WORK/fastcgi.err")"
}
# The library directory the build installs into: on Debian, lib/<triplet>.
LIBDIR="$(sed -n 's/^CMAKE_INSTALL_LIBDIR:[A-Z]*=//p' "$BUILD/CMakeCache.txt")"
# Only the tree under test: an installed Corvane on this machine must not
# stand in for it.
build_with_pkg_config() {
  flags="$(PKG_CONFIG_LIBDIR="$1/$LIBDIR/pkgconfig" pkg-config --cflags --libs corvane)" ||
    fail "no corvane.pc in $1/$LIBDIR/pkgconfig"
  g++ -std=c++17 -o "$WORK/pc-consumer" "$HERE/consumer/main.cpp" $flags
  check_client "$WORK/pc-consumer"
}

case "$MODE" in
install)
  cmake --install "$BUILD" --prefix "$WORK/usr" >/dev/null
  [ -x "$WORK/usr/bin/corvane-gateway" ] && [ -x "$WORK/usr/bin/corvane-sim" ] || fail "programs not installed"
  [ ! -e "$WORK/usr/etc" ] || fail "a plain install wrote configuration files"
  cmake -S "$HERE/consumer" -B "$WORK/cmake-build" -DCMAKE_PREFIX_PATH="$WORK/usr" >/dev/null
  cmake --build "$WORK/cmake-build" >/dev/null
  check_client "$WORK/cmake-build/corvane-consumer"
  build_with_pkg_config "$WORK/usr"
  check_loading "$WORK/usr"
  ;;
package)
  (cd "$WORK" && cpack --config "$BUILD/CPackConfig.cmake" -B "$WORK/deb" >"$WORK/cpack.log" 2>&1) ||
    fail "cpack: $(cat "$WORK/cpack.log")"
  command -v lintian >/dev/null || fail "lintian is not installed (scripts/install-deps.sh installs it)"
  lintian --fail-on error,warning "$WORK"/deb/*.deb >"$WORK/lintian.log" 2>&1 ||
    fail "lintian found errors or warnings:
$(cat "$WORK/lintian.log")"
  for deb in "$WORK"/deb/*.deb; do dpkg-deb -x "$deb" "$WORK/root"; done
  GATEWAY="$WORK/root/usr/bin/corvane-gateway"
  # Every shared library the gateway loads comes with a package it depends
  # on: those it and its module link, and libfcgi, which it loads when it
  # serves FastCGI. A CGI run maps neither libfcgi nor TinyXML.
  depends=", $(dpkg-deb -f "$WORK"/deb/corvane-gateway_*.deb Depends),"
  multiarch="$(dpkg-architecture -qDEB_HOST_MULTIARCH)"
  needed="$(readelf -d "$GATEWAY" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p')"
  case " $(echo $needed) " in *" libfcgi."* | *" libtinyxml."*) fail "the gateway links libfcgi or TinyXML: $needed" ;; esac
  module="$(find "$WORK/root/usr/lib/$multiarch/corvane-gateway" -name administrator-list.so)"
  [ -f "$module" ] || fail "the package holds no administrator-list.so"
  for lib in $needed $(readelf -d "$module" | sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p') libfcgi.so.0; do
    package="$(dpkg -S "$multiarch/$lib" | awk -v end="/$multiarch/$lib" \
      'substr($NF, length($NF) - length(end) + 1) == end { sub(/:.*/, "", $1); print $1; exit }')"
    case "$depends" in *", $package "* | *", $package,"*) ;; *) fail "$lib ($package) is not in Depends: $depends" ;; esac
  done
  # deploy/debian/changelog has an entry for this version, on top.
  version="$(dpkg-deb -f "$WORK"/deb/corvane-gateway_*.deb Version)"
  zcat "$WORK/root/usr/share/doc/corvane-gateway/changelog.gz" >"$WORK/changelog"
  logged="$(dpkg-parsechangelog -l "$WORK/changelog" -S Version)"
  [ "$logged" = "$version" ] || fail "the changelog's latest entry is for $logged, the package is $version"
  for f in lighttpd/conf-available/05-corvane-gateway.conf apache2/conf-available/corvane-gateway.conf \
    nginx/snippets/corvane-gateway.conf; do
    [ -f "$WORK/root/etc/$f" ] || fail "/etc/$f is not in the package"
  done
  readelf -d "$GATEWAY" | grep -q "BIND_NOW" || fail "the packaged gateway is not linked with -z now"
  # The FastCGI service's sandbox as systemd rates it, 0 (safe) to 10.
  command -v systemd-analyze >/dev/null || fail "systemd-analyze is not installed (scripts/install-deps.sh installs it)"
  unit="$WORK/root/usr/lib/systemd/system/corvane-gateway.service"
  [ -f "$unit" ] || fail "corvane-gateway.service is not in the package"
  systemd-analyze security --offline=yes "$unit" >"$WORK/security.log" 2>&1 || true
  exposure="$(sed -n 's/.*Overall exposure level for corvane-gateway.service: \([0-9.]*\).*/\1/p' "$WORK/security.log")"
  [ -n "$exposure" ] || fail "systemd-analyze rated nothing: $(cat "$WORK/security.log")"
  echo "systemd-analyze security --offline=yes: corvane-gateway.service exposure $exposure"
  awk -v e="$exposure" 'BEGIN { exit !(e <= 3.0) }' || fail "the service's exposure $exposure is above 3.0:
$(cat "$WORK/security.log")"
  # postinst, run as it is on installing in a copy-on-write view of this
  # machine that goes with the mount namespace, makes the service's user
  # and the account store as the README says.
  dpkg-deb -e "$WORK"/deb/corvane-gateway_*.deb "$WORK/control"
  if [ "$(id -u)" -ne 0 ]; then
    echo "postinst not run: that needs root"
  else
    mkdir -p "$WORK/view/upper" "$WORK/view/work" "$WORK/view/root"
    unshare --mount --fork sh -c '
      mount --make-rprivate / &&
      mount -t overlay overlay -o "lowerdir=/,upperdir=$1/upper,workdir=$1/work" "$1/root" &&
      mount -t proc proc "$1/root/proc" && mount --bind /dev "$1/root/dev" &&
      chroot "$1/root" sh -e "$2" configure >"$1/postinst.log" 2>&1 &&
      chroot "$1/root" sh -c "getent passwd corvane-gateway | cut -d: -f6,7 && getent shadow corvane-gateway |
        cut -d: -f2 && stat -c \"%a %U:%G\" /var/lib/corvane-gateway/account"' \
      sh "$WORK/view" "$WORK/control/postinst" >"$WORK/postinst.out" 2>&1 ||
      fail "postinst failed: $(cat "$WORK/view/postinst.log" "$WORK/postinst.out")"
    [ "$(sed -n 1p "$WORK/postinst.out")" = /nonexistent:/usr/sbin/nologin ] &&
      case "$(sed -n 2p "$WORK/postinst.out")" in '*' | '!'*) true ;; *) false ;; esac ||
      fail "postinst's user corvane-gateway has a home, a login shell or a password: $(cat "$WORK/postinst.out")"
    mode="$(sed -n 3p "$WORK/postinst.out")"
    tr -s '\n ' '  ' <"$HERE/../../README.md" | grep -Fq "\`${mode#* }\`, mode 0${mode%% *}" ||
      fail "postinst makes the account store ${mode#* }, mode 0${mode%% *}, which README.md does not say"
  fi
  mkdir -p "$WORK/state/account"
  cd "$WORK/state"
  REMOTE_USER=alice "$GATEWAY" mode=saveUser host=h nodeId=/ "corvaneMetadata=<p/>" >/dev/null
  out="$(REMOTE_USER=alice "$GATEWAY" mode=loadUser host=h nodeId=/)"
  [ "$out" = "$(printf '%s\n' 'Content-Type: text/xml' 'X-Content-Type-Options: nosniff' \
    "Content-Security-Policy: default-src 'none'; frame-ancestors 'none'; sandbox" 'Cache-Control: no-store' '' \
    '<response><p/></response>')" ] || fail "loadUser answered '$out'"
  out="$("$GATEWAY" mode=getMetadata "host=127.0.0.1:$PORT" nodeId=/ streamName=info)"
  case "$out" in *"<host>127.0.0.1:$PORT</host>$INFO</node>"*) ;; *) fail "getMetadata answered '$out'" ;; esac
  check_loading "$WORK/root/usr"
  build_with_pkg_config "$WORK/root/usr"
  ;;
*)
  fail "usage: $0 install|package BUILD_DIR"
  ;;
esac
