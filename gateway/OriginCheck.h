// Internal to the gateway.
// Whether a request was sent by a page of another site: a browser says so
// in Sec-Fetch-Site, or, where it sends no such header, in an Origin that
// names another host or port than the request's Host. Requests that carry
// neither (scripts, other servers) are not cross-site; neither are those
// whose Origin the site lists in CORVANE_TRUSTED_ORIGINS (space-separated
// origins such as "https://intranet.example:8443").
#pragma once

class RequestIo;

bool isCrossSiteRequest(const RequestIo& io);
