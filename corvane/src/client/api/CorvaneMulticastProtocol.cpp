#include "client/api/CorvaneMulticastProtocol.h"

#include <cstdio>
#include <cstring>
#include <set>

#include "base/loggerBase/CoMsg.h"
#include "base/rcApi/rcAttrStream.h"

namespace CorvaneMulticastProtocol {

namespace {

constexpr int kProtocolVersion = 1;
constexpr const char* kNodePrefix = "Node";
// A forged "Count" of two billion must neither keep the decoder busy for
// minutes nor flood the log: past this many, missing nodes go unreported.
constexpr int kMaxMissingNodesReported = 32;

struct TypeName {
    RequestType type;
    const char* name;
};

constexpr TypeName kTypeNames[] = {
    {RequestType::Invalid, "INVALID"},
    {RequestType::StartOfServices, "START_OF_SERVICES"},
    {RequestType::DiscoverServers, "DISCOVER_SERVERS"},
    {RequestType::DiscoverServersReply, "DISCOVER_SERVERS_REPLY"},
    {RequestType::RemoveServer, "REMOVE_SERVER"},
    {RequestType::FindServers, "FIND_SERVERS"},
    {RequestType::EndOfServices, "END_OF_SERVICES"},
};

std::string nodeKey(int index) {
    char key[255];
    std::snprintf(key, sizeof key, "%s%d", kNodePrefix, index);
    return key;
}

// The index of a node key exactly as nodeKey() writes it ("Node0",
// "Node12", never "Node012" or "Node-1"), when it is below count; else -1.
int nodeIndex(const Corvane::rcAttrStream::Entry& entry, int count) {
    const size_t prefixLen = std::strlen(kNodePrefix);
    if (entry.nameLen <= prefixLen || std::memcmp(entry.name, kNodePrefix, prefixLen) != 0)
        return -1;
    const char* digits = entry.name + prefixLen;
    const size_t n = entry.nameLen - prefixLen;
    if (n > 10 || (digits[0] == '0' && n > 1))
        return -1;
    int64_t index = 0;
    for (size_t i = 0; i < n; ++i) {
        if (digits[i] < '0' || digits[i] > '9')
            return -1;
        index = index * 10 + (digits[i] - '0');
    }
    return index < count ? static_cast<int>(index) : -1;
}

// The node indexes below count that the text holds, so that the decoder
// visits those and need not look up every index a forged count names.
std::set<int> presentNodes(const std::string& text, int count) {
    std::set<int> present;
    Corvane::rcAttrStream::Entry entry;
    size_t pos = 0;
    while (Corvane::rcAttrStream::readEntry(text.data(), text.size(), &pos, &entry) > 0) {
        const int index = nodeIndex(entry, count);
        if (index >= 0)
            present.insert(index);
    }
    return present;
}

}  // namespace

std::string encodeRequest(RequestType type, const Corvane::rcAttrStream& payload) {
    Corvane::rcAttrStream request;
    request.addIntValue("Version", kProtocolVersion);
    request.addIntValue("Type", static_cast<int>(type));
    request.addStringValue("Data", payload.str());
    return request.str();
}

bool decodeRequest(const char* text, RequestType& type, Corvane::rcAttrStream& payload) {
    if (!text)
        text = "";
    const Corvane::rcAttrStream request(text);
    int version = 0;
    if (!request.getIntValue("Version", version)) {
        CO_ERROR("Request is lacking a version tag: %s.", text);
        return false;
    }
    // Later versions only add to the texts; 0 is what an unreadable number
    // comes out as.
    if (version == 0) {
        CO_ERROR("Request's version is incompatible: %d", version);
        return false;
    }
    int wireType = 0;
    if (!request.getIntValue("Type", wireType)) {
        CO_ERROR("Request is lacking a type tag: %s.", text);
        return false;
    }
    if (wireType < static_cast<int>(RequestType::StartOfServices) ||
        wireType > static_cast<int>(RequestType::EndOfServices)) {
        CO_ERROR("Unknown request type: %d.", wireType);
        return false;
    }
    type = static_cast<RequestType>(wireType);
    std::string data;
    if (!request.getValue("Data", data)) {
        CO_ERROR("Request is lacking data: %s.", text);
        return false;
    }
    payload.assign(std::move(data));
    return true;
}

std::string encodeServerList(const ServerList& servers) {
    Corvane::rcAttrStream list;
    list.addIntValue("Count", static_cast<int>(servers.size()));
    int index = 0;
    Corvane::rcAttrStream record;
    for (const CorvaneDaemonInfo& server : servers) {
        server.write(record);
        list.addStringValue(nodeKey(index++).c_str(), record.str());
    }
    return list.str();
}

void decodeServerList(const std::string& text, ServerList& out, const char* database) {
    const Corvane::rcAttrStream list(text);
    int count = 0;
    if (!list.getIntValue("Count", count) || count == 0) {
        CO_DEBUG("Stream does not have any nodes.");
        return;
    }
    const bool filter = database && *database;
    int reported = 0;
    auto reportMissing = [&](int from, int to) {
        for (int i = from; i < to && reported < kMaxMissingNodesReported; ++i, ++reported)
            CO_ERROR("Stream is missing node %d of %d.", i, count);
    };
    int next = 0;
    std::string value;
    for (const int index : presentNodes(text, count)) {
        reportMissing(next, index);
        next = index + 1;
        if (!list.getValue(nodeKey(index).c_str(), value)) {
            reportMissing(index, index + 1);
            continue;
        }
        CorvaneDaemonInfo server{Corvane::rcAttrStream(value)};
        if (filter && std::strcmp(server.getDatabase(), database) != 0)
            continue;
        if (server.getNodePort() == 0)
            server.setNodePort(kDefaultNodePort);
        out.push_back(server);
    }
    reportMissing(next, count);
}

const char* requestTypeName(RequestType type) {
    for (const TypeName& entry : kTypeNames)
        if (entry.type == type)
            return entry.name;
    return "UNKNOWN";
}

}  // namespace CorvaneMulticastProtocol
