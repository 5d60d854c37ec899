// Internal to corvane_client.
// The process-wide table of shared server connections: one pool per server,
// kept while any CorvaneClientConnection::Shared holds it and for an idle
// time-out after, at most a fixed number of servers at once (the least
// recently used idle one makes room). A pool holds one connection until a
// thread asks while the others' threads hold theirs, then up to a limit
// more, so that the threads of a process call one server side by side; an
// extra connection goes after the same idle time-out. Library
// initialisation creates it and uninitialisation deletes it; both run on
// one thread while no other thread uses the library. Lookups and clean()
// are thread-safe.
#pragma once

#include <cstdint>

// Capacity and idle time-out (seconds) both from CORVANE_SHARED_CONNECTIONS,
// read once at program start; 16 connections and 30 seconds when it is
// unset. Does nothing when the table exists.
void corvaneCreateConnectionTable();
// The same with an explicit capacity and idle time-out (negative: never).
// Connections per server from CORVANE_SERVER_CONNECTIONS, else
// CORVANE_FASTCGI_THREADS, else 8, read once at program start.
void corvaneCreateConnectionTable(int capacity, int64_t idleTimeoutUs);
// The same with an explicit number of connections per server (at least 1).
void corvaneCreateConnectionTable(int capacity, int64_t idleTimeoutUs, int poolSize);
// Deletes every connection and the table. No Shared handle may be left.
void corvaneDeleteConnectionTable();
// True between the library's first start and its last stop: the table
// lives exactly that long.
bool corvaneConnectionTableExists();
// all: deletes every connection nobody holds; otherwise only those idle for
// longer than the time-out. Nothing happens without a table.
void corvaneCleanConnections(bool all);
// Servers in the table; 0 without one.
int corvaneSharedConnectionCount();
// For tests of the idle time-out: the clock the table reads (microseconds
// since the epoch) instead of the wall clock; null puts the wall clock back.
void corvaneSetConnectionClock(int64_t (*nowUs)());
