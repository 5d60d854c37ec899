#!/usr/bin/env python3
"""The client side of bench/watch_latency.sh; everything on this machine.

latency PORT AUTH HOST EVENTS: one live-update stream of /scratch on HOST
through the web server on 127.0.0.1:PORT, and EVENTS metadata changes of
/scratch through other requests, one after another. Prints the median
microseconds from the change in the server (the "Time" its event carries,
on the monotonic clock the processes share) to the event line at this
client, and from the change's request being sent to that line.

hold SOCKET COUNT HOST PID: COUNT streams straight to the FastCGI gateway
on SOCKET (process PID), each of its own user, all idle. Prints the
process's resident kB and threads before the first and with all of them
open, then closes them.
"""
import socket
import statistics
import sys
import time


def now_us():
    return time.clock_gettime_ns(time.CLOCK_MONOTONIC) // 1000


def read_until(sock, buffer, text, timeout=10.0):
    deadline = time.monotonic() + timeout
    while text not in buffer:
        left = deadline - time.monotonic()
        if left <= 0:
            raise RuntimeError("no %r within %.0f s: %r" % (text, timeout, buffer[-300:]))
        sock.settimeout(left)
        more = sock.recv(65536)
        if not more:
            raise RuntimeError("closed before %r: %r" % (text, buffer[-300:]))
        buffer += more
    return buffer


def latency(port, auth, host, events):
    stream = socket.create_connection(("127.0.0.1", port))
    stream.sendall(("GET /corvane-gateway?mode=watch&host=%s&nodeId=/scratch HTTP/1.0\r\n"
                    "Host: 127.0.0.1\r\nAuthorization: Basic %s\r\n\r\n" % (host, auth)).encode())
    buffer = read_until(stream, b"", b"\r\n\r\n")
    buffer = buffer[buffer.index(b"\r\n\r\n") + 4:]
    from_change, from_request = [], []
    for i in range(events):
        body = "mode=setMetadata&host=%s&nodeId=/scratch&streamName=bench&corvaneMetadata=%d" % (host, i)
        request = ("POST /corvane-gateway HTTP/1.0\r\nHost: 127.0.0.1\r\nAuthorization: Basic %s\r\n"
                   "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: %d\r\n\r\n%s"
                   % (auth, len(body), body)).encode()
        change = socket.create_connection(("127.0.0.1", port))
        sent = now_us()
        change.sendall(request)
        buffer = read_until(stream, buffer, b"</event>\n\n")
        arrived = now_us()
        event, buffer = buffer.split(b"</event>\n\n", 1)
        time_at = event.index(b'<entry name="Time">') + len(b'<entry name="Time">')
        changed = int(event[time_at:event.index(b"<", time_at)])
        from_change.append(arrived - changed)
        from_request.append(arrived - sent)
        answer = read_until(change, b"", b"</response>")
        change.close()
        if b"<error>" in answer:
            raise RuntimeError(answer.decode(errors="replace"))
    print("%d %d" % (statistics.median(from_change), statistics.median(from_request)))


def record(kind, content, request_id=1):
    return bytes([1, kind, request_id >> 8, request_id & 255, len(content) >> 8, len(content) & 255, 0, 0]) + content


def params(variables):
    out = b""
    for name, value in variables.items():
        name, value = name.encode(), value.encode()
        for length in (len(name), len(value)):
            out += bytes([length]) if length < 128 else (length | 0x80000000).to_bytes(4, "big")
        out += name + value
    return out


def process_status(pid):
    fields = {}
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            name, _, value = line.partition(":")
            fields[name] = value.split()[0] if value.split() else ""
    return int(fields["VmRSS"]), int(fields["Threads"])


def hold(path, count, host, pid):
    # One request first, so that the client library is up in both figures.
    warm = socket.socket(socket.AF_UNIX)
    warm.connect(path)
    query = "mode=getMetadata&host=%s&nodeId=/&streamName=info" % host
    warm.sendall(record(1, bytes([0, 1, 0, 0, 0, 0, 0, 0])) +
                 record(4, params({"REQUEST_METHOD": "GET", "QUERY_STRING": query, "REMOTE_USER": "warm"})) +
                 record(4, b"") + record(5, b""))
    read_until(warm, b"", bytes([1, 3]))
    warm.close()
    before = process_status(pid)
    streams = []
    for i in range(count):
        s = socket.socket(socket.AF_UNIX)
        s.connect(path)
        query = "mode=watch&host=%s&nodeId=/scratch" % host
        s.sendall(record(1, bytes([0, 1, 0, 0, 0, 0, 0, 0])) +
                  record(4, params({"REQUEST_METHOD": "GET", "QUERY_STRING": query, "REMOTE_USER": "u%d" % i})) +
                  record(4, b"") + record(5, b""))
        streams.append(s)
    for s in streams:
        read_until(s, b"", b"text/event-stream")
    during = process_status(pid)
    print("%d %d %d %d" % (before + during))
    for s in streams:
        s.close()


if __name__ == "__main__":
    if sys.argv[1] == "latency":
        latency(int(sys.argv[2]), sys.argv[3], sys.argv[4], int(sys.argv[5]))
    elif sys.argv[1] == "hold":
        hold(sys.argv[2], int(sys.argv[3]), sys.argv[4], int(sys.argv[5]))
    else:
        sys.exit(__doc__)
