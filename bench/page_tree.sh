#!/bin/sh
# How long the page's tree takes to open a folder of 10,000 children
# against one of 2, in headless Chromium: from the click on the folder's
# triangle to its first row in view, measured in the page, in ROUNDS rounds
# taken in turn. Prints each folder's median in milliseconds and their
# ratio. The page is served as the browser tests serve it (lighttpd with
# the CGI drop-in, corvane-sim with the demo tree and the big folder), all
# on 127.0.0.1; it stops by itself. Exits 77 when chromium, its driver or
# selenium is missing.
# Usage: bench/page_tree.sh [ROUNDS]
set -e
# The gateway starts discovery: keep its multicast on this machine.
[ -n "$CORVANE_PRIVATE_NETWORK" ] || exec "$(dirname "$0")/../scripts/private-network.sh" "$0" "$@"
ROUNDS="${1:-5}"
. "$(dirname "$0")/common.sh"
/usr/bin/python3 bench/page_tree.py "$TOP" "$BUILD" "$ROUNDS"
