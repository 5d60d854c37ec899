// Internal to the gateway.
// The refusals decided before any mode runs, first to last:
// - a request sent by a page of another site (403): a browser says so in
//   Sec-Fetch-Site, or, where it sends no such header, in an Origin that
//   names another host or port than the request's Host. Requests that carry
//   neither (scripts, other servers) are not cross-site; neither are those
//   whose Origin the site lists in CORVANE_TRUSTED_ORIGINS (space-separated
//   origins such as "https://intranet.example:8443");
// - a write by another method than POST under a web server (405), unless
//   CORVANE_ALLOW_GET_WRITES=1 lets GET and HEAD write;
// - a request under a web server with no authenticated user (401).
// The first two hold whoever the user is.
#pragma once

#include <string>

class CgiRequest;
class RequestIo;

struct Refusal {
    const char* status;   // the HTTP status line's text; null: the request goes on
    const char* headers;  // more header lines, each ending in "\n"
    std::string message;
};

Refusal refusalOf(const RequestIo& io, const CgiRequest& request);

bool isCrossSiteRequest(const RequestIo& io);
