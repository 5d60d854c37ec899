#!/bin/sh
# What clients that connect and stall cost everyone else: one FastCGI
# gateway process (spawn-fcgi on a socket file, its default threads), and
# REQUESTS getUser requests one after another, each timed from connect to
# its end record, alone and then beside STALLED connections that each sent
# one byte of a request and nothing more. Prints the median and the
# slowest request of each, and the ratio of the medians. Everything runs
# on a socket file and stops by itself. BUILD names the build directory
# (default build/).
# Usage: bench/fastcgi_stall.sh [REQUESTS] [STALLED]
set -e
# The first request starts the client library: keep its discovery here.
[ -n "$CORVANE_PRIVATE_NETWORK" ] || exec "$(dirname "$0")/../scripts/private-network.sh" "$0" "$@"
REQUESTS="${1:-200}"
STALLED="${2:-8}"
. "$(dirname "$0")/common.sh"
SOCKET="$WORK/gateway.socket"
spawn-fcgi -n -s "$SOCKET" -- "$BUILD/bin/corvane-gateway" >/dev/null 2>&1 &
SERVE_PIDS="$SERVE_PIDS $!"
python3 - "$SOCKET" "$REQUESTS" "$STALLED" <<'EOF'
import socket, statistics, struct, sys, time

path, count, stalled = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])

def record(kind, content=b""):
    return struct.pack(">BBHHBB", 1, kind, 1, len(content), 0, 0) + content

def params(variables):
    out = b""
    for name, value in variables.items():
        out += bytes([len(name), len(value)]) + name.encode() + value.encode()
    return out

REQUEST = (record(1, bytes([0, 1, 0, 0, 0, 0, 0, 0]))
           + record(4, params({"REQUEST_METHOD": "GET", "REMOTE_USER": "bench",
                               "QUERY_STRING": "mode=getUser&host=h&nodeId=n"}))
           + record(4) + record(5))

def connect():
    client = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    client.settimeout(60)
    client.connect(path)
    return client

def ask():
    start = time.monotonic()
    client = connect()
    client.sendall(REQUEST)
    answer = b""
    while True:
        chunk = client.recv(65536)
        if not chunk:
            break
        answer += chunk
        if b"\x01\x03\x00\x01" in answer:  # the end record
            break
    client.close()
    if b"<response>bench</response>" not in answer:
        sys.exit("the gateway did not answer: %r" % answer)
    return (time.monotonic() - start) * 1000

deadline = time.monotonic() + 20
while True:
    try:
        ask()
        break
    except OSError:
        if time.monotonic() > deadline:
            sys.exit("the gateway did not start")
        time.sleep(0.1)

def run():
    times = sorted(ask() for _ in range(count))
    return statistics.median(times), times[-1]

alone = run()
held = [connect() for _ in range(stalled)]
for client in held:
    client.sendall(b"\x01")
beside = run()
print("%d getUser requests one at a time, %d connections stalled after one byte:" % (count, stalled))
print("%-8s %10s %10s" % ("", "median ms", "max ms"))
print("%-8s %10.2f %10.2f" % ("alone", alone[0], alone[1]))
print("%-8s %10.2f %10.2f" % ("beside", beside[0], beside[1]))
print("beside stalled / alone: %.2fx median request time" % (beside[0] / alone[0]))
EOF
