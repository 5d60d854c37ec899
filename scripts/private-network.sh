#!/bin/sh
# Runs a command in a network namespace of its own that holds only lo (up,
# multicast on, the multicast range routed to it), so that server discovery
# started by the command can not reach past this machine. Needs root (or
# unprivileged user namespaces) and iproute2.
# Usage: scripts/private-network.sh COMMAND [ARG...]
set -e
[ $# -gt 0 ] || { echo "usage: $0 COMMAND [ARG...]" >&2; exit 2; }
if [ "$(id -u)" -eq 0 ]; then
  UNSHARE="unshare --net"
else
  UNSHARE="unshare --net --map-current-user"
fi
exec $UNSHARE sh -c '
  ip link set lo up &&
  ip link set lo multicast on &&
  ip route add 224.0.0.0/4 dev lo &&
  CORVANE_PRIVATE_NETWORK=1 exec "$@"' sh "$@"
