#!/bin/sh
# Uses Corvane the way other projects and machines get it. "install":
# installs the build tree into a temporary prefix and builds the installed
# first example against it with find_package(Corvane) and with pkg-config,
# under -Wall -Wextra -Wpedantic -Werror. "package": makes the API
# reference and the Debian packages, has lintian check them (any error or
# warning fails), unpacks them into a temporary root, builds the example
# against the -dev package and runs the gateway from there. Both check that
# the headers, the packages, CorvaneConfigVersion.cmake and corvane.pc tell
# one version. The programs run against corvane-sim; run this in a private
# network namespace (the gateway starts discovery).
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

# The project's version, as CMake has it.
VERSION="$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$BUILD/CMakeCache.txt")"
WARNINGS="-Wall -Wextra -Wpedantic -Werror"
# check_client PROGRAM: the first example's output, with discovery off.
check_client() {
  out="$(CORVANE_DISCOVERY=off "$1" "127.0.0.1:$PORT")" || fail "$1 failed: $out"
  [ "$(echo "$out" | sed -n 1p)" = "Corvane $VERSION" ] && [ "$(echo "$out" | sed -n 2p)" = "$INFO" ] &&
    echo "$out" | grep -qx "/media FOLDER Media" || fail "$1 printed '$out'"
}
# check_dev ROOT: what the -dev files under ROOT say of themselves: one
# version, libuuid named rather than found at a path of this machine.
check_dev() {
  header="$1/include/corvane/client/api/CorvaneVersion.h"
  grep -qx "#define CORVANE_VERSION_STRING \"$VERSION\"" "$header" || fail "$header is not of version $VERSION"
  grep -q "PACKAGE_VERSION \"$VERSION\"" "$1/$LIBDIR/cmake/Corvane/CorvaneConfigVersion.cmake" ||
    fail "CorvaneConfigVersion.cmake is not of version $VERSION"
  ! grep -rn "/libuuid" "$1/$LIBDIR/cmake/Corvane" || fail "the CMake package names libuuid by its path"
  [ -f "$1/share/doc/libcorvane-dev/examples/first-program.cpp" ] || fail "the examples are not installed"
}
# build_with_cmake ROOT: the installed example, with CMake, C++14 as the
# package asks (no standard of its own).
build_with_cmake() {
  cmake -S "$1/share/doc/libcorvane-dev/examples" -B "$WORK/cmake-build" -DCMAKE_PREFIX_PATH="$1" \
    -DCMAKE_CXX_FLAGS="$WARNINGS" >"$WORK/cmake.log" 2>&1 &&
    cmake --build "$WORK/cmake-build" >>"$WORK/cmake.log" 2>&1 || fail "the example did not build with CMake:
$(cat "$WORK/cmake.log")"
  check_client "$WORK/cmake-build/first-program"
}
# check_loading ROOT: the gateway installed under ROOT finds its
# administrator-list module and answers isAdmin; without the module, with
# a module or a libfcgi that lacks its functions, it names what it could
# not load.
check_loading() {
  gateway="$1/bin/corvane-gateway"
  module="$(find "$1/$LIBDIR/corvane-gateway" -name administrator-list.so)"
  [ -f "$module" ] || fail "no administrator-list.so in $1/$LIBDIR/corvane-gateway"
  out="$(REMOTE_USER=demo "$gateway" mode=isAdmin "host=127.0.0.1:$PORT" nodeId=/)"
  case "$out" in *"<response>true</response>"*) ;; *) fail "isAdmin answered '$out'" ;; esac
  mv "$module" "$WORK/moved.so"
  out="$(REMOTE_USER=demo "$gateway" mode=isAdmin "host=127.0.0.1:$PORT" nodeId=/ 2>/dev/null)"
  cc -shared -o "$module" -x c /dev/null
  empty="$(REMOTE_USER=demo "$gateway" mode=isAdmin "host=127.0.0.1:$PORT" nodeId=/ 2>/dev/null)"
  mv "$WORK/moved.so" "$module"
  case "$out" in *"<error>"*"Could not load"*"administrator-list.so"*) ;; *) fail "isAdmin without its module answered '$out'" ;; esac
  case "$empty" in *"<error>Could not find corvaneReadAdministrators in"*) ;; *) fail "isAdmin with an empty module answered '$empty'" ;; esac
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
# stand in for it. An unpacked package's corvane.pc names /usr, which the
# sysroot puts under the tree.
build_with_pkg_config() {
  export PKG_CONFIG_LIBDIR="$1/$LIBDIR/pkgconfig" PKG_CONFIG_ALLOW_SYSTEM_CFLAGS=1 PKG_CONFIG_ALLOW_SYSTEM_LIBS=1
  [ -z "$2" ] || export PKG_CONFIG_SYSROOT_DIR="$2"
  [ "$(pkg-config --modversion corvane)" = "$VERSION" ] || fail "corvane.pc is not of version $VERSION"
  flags="$(pkg-config --cflags --libs corvane)" || fail "no corvane.pc in $1/$LIBDIR/pkgconfig"
  case " $flags " in *" -I$1/include/corvane "*) ;; *) fail "corvane.pc's include path is not plain: $flags" ;; esac
  unset PKG_CONFIG_LIBDIR PKG_CONFIG_SYSROOT_DIR
  g++ -std=c++14 $WARNINGS -o "$WORK/pc-consumer" "$1/share/doc/libcorvane-dev/examples/first-program.cpp" $flags ||
    fail "the example did not build with pkg-config's flags $flags"
  check_client "$WORK/pc-consumer"
}

case "$MODE" in
install)
  cmake --install "$BUILD" --prefix "$WORK/usr" >/dev/null
  [ -x "$WORK/usr/bin/corvane-gateway" ] && [ -x "$WORK/usr/bin/corvane-sim" ] || fail "programs not installed"
  [ ! -e "$WORK/usr/etc" ] || fail "a plain install wrote configuration files"
  check_dev "$WORK/usr"
  # Every public header of the client stands alone in C++14, warning-free.
  for h in "$WORK"/usr/include/corvane/client/api/*.h; do
    head -1 "$h" | grep -q "^// Internal to" && continue
    echo "#include \"$h\"" | g++ -std=c++14 $WARNINGS -fsyntax-only -I"$WORK/usr/include/corvane" -x c++ - ||
      fail "$h does not compile alone under -std=c++14 $WARNINGS"
  done
  build_with_cmake "$WORK/usr"
  build_with_pkg_config "$WORK/usr"
  check_loading "$WORK/usr"
  ;;
package)
  command -v doxygen >/dev/null || fail "doxygen is not installed (scripts/install-deps.sh installs it)"
  cmake --build "$BUILD" --target docs >"$WORK/docs.log" 2>&1 || fail "the API reference: $(cat "$WORK/docs.log")"
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
  # Each package holds its own: the sim and its tree, the reference.
  for deb in "$WORK"/deb/*.deb; do
    [ "$(dpkg-deb -f "$deb" Version)" = "$VERSION" ] || fail "$deb is not of version $VERSION"
  done
  dpkg-deb -c "$WORK"/deb/corvane-gateway_*.deb | grep -q "corvane-sim" && fail "corvane-gateway holds corvane-sim"
  dpkg-deb -c "$WORK"/deb/corvane-sim_*.deb >"$WORK/sim.list"
  for f in usr/bin/corvane-sim usr/share/corvane-sim/demo-tree.txt usr/share/man/man1/corvane-sim.1.gz; do
    grep -q " \./$f\$" "$WORK/sim.list" || fail "corvane-sim's package lacks /$f"
  done
  [ -f "$WORK/root/usr/share/doc/libcorvane-dev/html/index.html" ] || fail "libcorvane-dev holds no API reference"
  check_dev "$WORK/root/usr"
  build_with_pkg_config "$WORK/root/usr" "$WORK/root"
  ;;
*)
  fail "usage: $0 install|package BUILD_DIR"
  ;;
esac
