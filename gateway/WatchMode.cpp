#include "WatchMode.h"

#include <strings.h>

#include <algorithm>
#include <cassert>
#include <chrono>
#include <cstring>
#include <utility>
#include <vector>

#include "CgiRequest.h"
#include "FastCgiIo.h"
#include "RequestLimits.h"
#include "ServerDoor.h"
#include "WatchHub.h"
#include "WatchLine.h"
#include "base/env/EnvVar.h"

namespace {

constexpr size_t kDefaultMaxNodes = 64;
constexpr size_t kDefaultMaxStreams = 256;
constexpr size_t kDefaultSeconds = 600;
const char kNeedsFastCgi[] = "Live updates need the FastCGI gateway";

// A setting read as the others are: its leading digits, the default when unset.
size_t settingOr(const RequestIo& io, const char* name, size_t fallback) {
    const char* value = io.setting(name);
    return value ? static_cast<size_t>(Corvane::leadingDigits(value)) : fallback;
}

// The request's pairs, checked before any server is asked: host and nodeId
// are paired lists, or one host serves all nodes. A pair named twice is
// watched once.
std::vector<std::pair<std::string, std::string>> watchedPairs(const ModeContext& context, size_t maxNodes) {
    const CgiRequest& request = context.request;
    assert(request.failure().empty() && "a request whose body failed has no mode");
    const std::string withNul = request.parameterWithNul();
    if (!withNul.empty())
        throw "Parameter '" + withNul + "' holds a NUL byte";
    if (context.host.empty())
        throw std::string("Corvane server not specified");
    const std::string nodeIds = request.get("nodeId");
    if (nodeIds.empty())
        throw std::string("Node ID not specified");
    const size_t hostCount = CgiRequest::countList(context.host);
    const size_t nodeCount = CgiRequest::countList(nodeIds);
    if (nodeCount != hostCount && hostCount != 1)
        throw std::string("Specify same number of hosts and nodes or one host for all nodes");
    if (nodeCount > maxNodes)
        throw "Too many nodes to watch in one stream (" + std::to_string(nodeCount) + ", at most " +
            std::to_string(maxNodes) + ")";
    const std::vector<std::string> hosts = CgiRequest::splitList(context.host);
    const std::vector<std::string> nodes = CgiRequest::splitList(nodeIds);
    for (const std::string& host : hosts)
        context.door.admit(host);
    std::vector<std::pair<std::string, std::string>> pairs;
    for (size_t i = 0; i < nodes.size(); ++i) {
        std::pair<std::string, std::string> pair(hosts.size() > 1 ? hosts[i] : hosts[0], nodes[i]);
        if (std::find(pairs.begin(), pairs.end(), pair) == pairs.end())
            pairs.push_back(std::move(pair));
    }
    return pairs;
}

}  // namespace

std::string watchWithoutFastCgi(const ModeContext&) { throw std::string(kNeedsFastCgi); }

bool isWatchRequest(const CgiRequest& request) { return strcasecmp(request.get("mode").c_str(), "watch") == 0; }

bool startWatch(const ModeContext& context, RequestIo& io, WatchHub& hub, WatchFailure* failure) {
    // Only the FastCGI gateway has a hub; a CGI run's watch fails in its mode.
    FastCgiIo* fastCgi = dynamic_cast<FastCgiIo*>(&io);
    assert(fastCgi && "a stream needs the FastCGI connection");
    std::string host = context.host;
    try {
        const std::vector<std::pair<std::string, std::string>> pairs =
            watchedPairs(context, settingOr(io, "CORVANE_MAX_WATCH_NODES", kDefaultMaxNodes));
        const size_t maxStreams = settingOr(io, "CORVANE_MAX_WATCHERS", kDefaultMaxStreams);
        const size_t maxUserStreams = settingOr(io, "CORVANE_MAX_USER_WATCHERS", std::max<size_t>(1, maxStreams / 4));
        const size_t seconds = std::max<size_t>(1, settingOr(io, "CORVANE_WATCH_SECONDS", kDefaultSeconds));
        // A HEAD request reads no body: its answer ends with its header,
        // and holds no stream for its lifetime.
        const char* method = io.variable("REQUEST_METHOD");
        if (method && std::strcmp(method, "HEAD") == 0) {
            io.out(kWatchHeader);
            return true;
        }
        std::string refusal;
        const uint64_t stream = hub.open(context.request.remoteUserName(), fastCgi->requestId(),
                                         std::chrono::seconds(seconds), maxStreams, maxUserStreams, &refusal);
        if (!stream) {
            failure->status = "503 Service Unavailable";
            throw refusal;
        }
        try {
            for (const auto& pair : pairs) {
                host = pair.first;
                context.limits.checkDeadline();
                hub.registry().subscribe(stream, pair.first, pair.second, context.door, context.browseLimitMs);
            }
        } catch (const std::string&) {
            hub.abandon(stream);
            throw;
        }
        io.out(kWatchHeader);
        hub.activate(stream, fastCgi->handOver());
        return true;
    } catch (const std::string& message) {
        failure->failed = true;
        failure->message = message;
        failure->host = host;
        return false;
    }
}
