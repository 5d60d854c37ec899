// Internal to the gateway.
// The watch mode: a Server-Sent Events stream of the node events of the
// nodes a request names (host and nodeId paired as for getMetadata). Only
// a FastCGI process serves it, whose hub keeps the stream; a CGI run, and
// a persistent driver not under FastCGI, answer that live updates need
// the FastCGI gateway. The bounds come from the request's settings:
// CORVANE_MAX_WATCH_NODES pairs a stream (default 64),
// CORVANE_MAX_WATCHERS streams a process (default 256),
// CORVANE_MAX_USER_WATCHERS streams a user (default a quarter of the
// process's, at least 1), CORVANE_WATCH_SECONDS a stream's life (default
// 600); a stream past the process's or the user's bound is refused with
// 503.
#pragma once

#include <string>

#include "GatewayMode.h"

class CgiRequest;
class RequestIo;
class WatchHub;

// A watch request that did not become a stream.
struct WatchFailure {
    bool failed = false;
    const char* status = nullptr;  // the HTTP status of a refusal by the bounds; null otherwise
    std::string message;
    std::string host;  // the host the failure concerns
};

// The mode table's entry, which a CGI run reaches: throws the refusal.
std::string watchWithoutFastCgi(const ModeContext& context);

bool isWatchRequest(const CgiRequest& request);

// Starts the stream of a FastCGI request (io is a FastCgiIo) that passed
// the refusals every mode has, the client library started and the
// request's user set. True when the stream runs, or its web server went
// away meanwhile: either way the request is over for its thread, and io
// serves nothing more. A HEAD request is answered with the header alone
// (true too), and io finishes it as any request. False with *failure set
// otherwise; nothing was written then.
bool startWatch(const ModeContext& context, RequestIo& io, WatchHub& hub, WatchFailure* failure);
