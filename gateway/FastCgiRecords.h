// Internal to the gateway.
// Reads the start of a FastCGI connection, as far as the records that open
// a request: whether libfcgi can read them without waiting, and how many
// more bytes to wait for otherwise. Pure functions, any thread.
#pragma once

#include <cstddef>
#include <cstdint>

// A record's header, and the most a whole record takes.
constexpr size_t kFastCgiHeaderBytes = 8;
constexpr size_t kFastCgiMaxRecordBytes = kFastCgiHeaderBytes + 0xffff + 255;
// Web servers send a few kB of variables in one or a few records; past
// this (or many records) the looks at a trickled request would cost more
// than they save, and libfcgi reads it instead, under a timer.
constexpr size_t kFastCgiPeekLimitBytes = 64 * 1024;

enum class FastCgiArrival {
    Waiting,   // more bytes must come first
    Complete,  // the begin and the variables to their end are there
    Large,     // the variables go past a look
    Broken,    // libfcgi would fail on them, or wait for more
};

// Looks at the first size bytes a connection sent. Complete only when
// libfcgi reads these records and no more before FCGX_Accept_r returns: a
// begin of a role it serves, then that request's variables to their end.
// Whatever else it may wait on (records of other requests, management
// records, a role it refuses) is Broken, except that on a kept connection
// whole records of the request before, which its application left unread,
// come first: *staleBytes of them, for the caller to drop. *needBytes is
// how many bytes must be there before another look is worth it.
FastCgiArrival scanFastCgiRecords(const uint8_t* bytes, size_t size, bool kept, size_t* needBytes, size_t* staleBytes);
