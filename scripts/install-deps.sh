#!/bin/sh
# Installs what building, running and testing need, from Debian's packages.
# Idempotent and quiet; run as root.
set -e
PACKAGES="cmake make g++ libtinyxml-dev libboost-dev uuid-dev libgtest-dev libgmock-dev \
libbenchmark-dev zlib1g-dev lighttpd curl iproute2 xfsprogs"
missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends $missing >/dev/null
fi
