#include "client/api/CorvaneBaseClientAPI.h"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <cstdlib>

#include "base/loggerBase/CoException.h"
#include "base/rcApi/rcAttrStream.h"
#include "client/api/CorvaneDaemonInfo.h"
#include "client/api/CorvaneNodeId.h"
#include "client/api/CorvaneReplyDecoders.h"
#include "client/api/CorvaneStrList.h"
#include "client/api/CorvaneTokenizer.h"

namespace {

// Registering waits for the server to reach back to the event monitor.
constexpr unsigned int kRegisterEventsTimeoutMs = 15000;
constexpr unsigned int kUnregisterEventsTimeoutMs = 10000;
// The server reads the formatted head of the translation arguments into a
// buffer of this size.
constexpr size_t kTranslateHeadSize = 1024;
// Entries read from one translation reply: a count beyond what any server
// keeps is a broken reply, not a reason to loop for minutes.
constexpr int kMaxTranslationEntries = 65536;

std::string eventArgs(int port, int connection, const CorvaneNodeId& subject) {
    Corvane::rcAttrStream args;
    args.addIntValue("Port", port);
    args.addIntValue("Connection", connection);
    args.addStringValue("Subject", subject.getId());
    return args.str();
}

// The index an entry's name stands for: plain decimal without leading
// zeros, below count; -1 for any other name.
int entryIndex(const Corvane::rcAttrStream::Entry& entry, int count) {
    if (entry.nameLen == 0 || entry.nameLen > 9 || (entry.nameLen > 1 && entry.name[0] == '0'))
        return -1;
    int index = 0;
    for (size_t i = 0; i < entry.nameLen; ++i) {
        if (entry.name[i] < '0' || entry.name[i] > '9')
            return -1;
        index = index * 10 + (entry.name[i] - '0');
    }
    return index < count ? index : -1;
}

// The entries of a translation reply: count under countKey, then one entry
// per index, named by the index in decimal. Missing ones read as empty.
// One pass over the reply: looking each index up would cost a pass each
// when a server lists them out of order.
template <typename Record, typename Fill>
void readIndexed(const std::string& reply, const char* countKey, std::vector<Record>& out, Fill&& fill) {
    const Corvane::rcAttrStream stream(reply);
    int count = 0;
    stream.getIntValue(countKey, count);
    count = std::max(0, std::min(count, kMaxTranslationEntries));
    std::vector<std::string> values(static_cast<size_t>(count));
    std::vector<bool> seen(values.size());
    Corvane::rcAttrStream::ConstIterator entries(stream);
    Corvane::rcAttrStream::Entry entry;
    while (entries.next(entry)) {
        const int index = entryIndex(entry, count);
        if (index >= 0 && !seen[index]) {
            seen[index] = true;  // the first entry of a name is the one a lookup finds
            values[index].assign(entry.value, entry.valueLen);
        }
    }
    out.reserve(out.size() + values.size());
    for (std::string& value : values) {
        Record record;
        fill(value, record);
        out.push_back(std::move(record));
    }
}

}  // namespace

CorvaneBaseClientAPI::CorvaneBaseClientAPI(CorvaneClientConnection* connection) : connection_(connection) {
    assert(connection_ && "connection_");
}

CorvaneBaseClientAPI::~CorvaneBaseClientAPI() = default;

bool CorvaneBaseClientAPI::queryVersion(int& major, int& minor) {
    return guarded([&] {
        std::string reply;
        connection_->callMethod("QueryVersion", "", true, reply, CorvaneClientConnection::kCallTimeoutMs);
        std::sscanf(reply.c_str(), "%d %d", &major, &minor);
        return true;
    });
}

bool CorvaneBaseClientAPI::ping(unsigned int timeoutMs) {
    return guarded([&] {
        std::string reply;
        connection_->callMethod("Ping", "", true, reply, timeoutMs);
        return true;
    });
}

bool CorvaneBaseClientAPI::shutdown() {
    return guarded([&] {
        std::string reply;
        connection_->callMethod("Shutdown", "", true, reply, CorvaneClientConnection::kCallTimeoutMs);
        return true;
    });
}

bool CorvaneBaseClientAPI::registerEvents(int port, int connection, const CorvaneNodeId& subject) {
    return guarded([&] {
        std::string reply;
        connection_->callMethod("RegisterEvents", eventArgs(port, connection, subject).c_str(), true, reply,
                                kRegisterEventsTimeoutMs);
        return true;
    });
}

bool CorvaneBaseClientAPI::unregisterEvents(int port, int connection, const CorvaneNodeId& subject) {
    return guarded([&] {
        std::string reply;
        connection_->callMethod("UnregisterEvents", eventArgs(port, connection, subject).c_str(), true, reply,
                                kUnregisterEventsTimeoutMs);
        return true;
    });
}

bool CorvaneBaseClientAPI::getDaemonInfo(CorvaneDaemonInfo& info) {
    return guarded([&] {
        info = connection_->getDaemonInfo(false);
        return true;
    });
}

bool CorvaneBaseClientAPI::translatePaths(const CorvaneStrList& paths, CorvaneStrList& out, const char* srcHost,
                                          const char* dstHost, int srcCode, int dstCode) {
    if (!srcHost || !*srcHost)
        return fail("Invalid source host name given");
    if (!dstHost || !*dstHost)
        return fail("Invalid destination host name given");
    return guarded([&] {
        char head[kTranslateHeadSize];
        const int n = std::snprintf(head, sizeof head, "\"%s\" %d \"%s\" %d ", srcHost, srcCode, dstHost, dstCode);
        if (n < 0 || static_cast<size_t>(n) >= sizeof head)
            throw Corvane::CoException("Arguments of TranslatePaths are too long.", __LINE__, __FILE__);
        std::string args(head, static_cast<size_t>(n));
        // Paths go in double quotes as they are: the server splits at the
        // commas between the quotes.
        for (unsigned int i = 0; i < paths.size(); ++i) {
            if (i > 0)
                args += ',';
            args += '"';
            args += paths.getStr(i);
            args += '"';
        }
        std::string reply;
        connection_->callMethod("TranslatePaths", args.c_str(), true, reply, CorvaneClientConnection::kCallTimeoutMs);
        decodeTranslatedPaths(reply, out);
        return true;
    });
}

bool CorvaneBaseClientAPI::getTranslationGroups(std::vector<CorvaneTranslationGroup>& groups) {
    return guarded([&] {
        groups.clear();
        std::string reply;
        connection_->callMethod("GetTranslationGroups", "", true, reply, CorvaneClientConnection::kCallTimeoutMs);
        decodeTranslationGroups(reply, groups);
        return true;
    });
}

bool CorvaneBaseClientAPI::getHostTranslations(std::vector<CorvaneHostTranslation>& translations) {
    return guarded([&] {
        translations.clear();
        std::string reply;
        connection_->callMethod("GetHostTranslations", "", true, reply, CorvaneClientConnection::kCallTimeoutMs);
        decodeHostTranslations(reply, translations);
        return true;
    });
}

bool CorvaneBaseClientAPI::getOsTypeTranslations(std::vector<CorvaneOsTypeTranslation>& translations) {
    return guarded([&] {
        translations.clear();
        std::string reply;
        connection_->callMethod("GetOsTypeTranslations", "", true, reply, CorvaneClientConnection::kCallTimeoutMs);
        decodeOsTypeTranslations(reply, translations);
        return true;
    });
}

bool CorvaneBaseClientAPI::isConnected() { return connection_->isConnected(); }

void CorvaneBaseClientAPI::addConnectCallback(CorvaneClientConnection::ConnectCallback* callback) {
    connection_->addConnectCallback(callback);
}

void CorvaneBaseClientAPI::removeConnectCallback(CorvaneClientConnection::ConnectCallback* callback) {
    connection_->removeConnectCallback(callback);
}

void decodeTranslatedPaths(std::string& reply, CorvaneStrList& out) {
    out.resize(0);
    if (reply.empty())
        return;
    CorvaneTokenizer tokens(&reply[0], ',');
    while (const char* token = tokens.next())
        out.append(token);
}

void decodeTranslationGroups(const std::string& reply, std::vector<CorvaneTranslationGroup>& out) {
    readIndexed(reply, "numGroups", out, [](std::string& value, CorvaneTranslationGroup& group) {
        if (value.empty())
            return;
        CorvaneTokenizer tokens(&value[0], ',');
        if (const char* name = tokens.next())
            group.name = name;
        if (const char* number = tokens.next())
            group.number = static_cast<int>(std::strtol(number, nullptr, 10));
        while (const char* member = tokens.next())
            group.members.emplace_back(member);
    });
}

void decodeHostTranslations(const std::string& reply, std::vector<CorvaneHostTranslation>& out) {
    readIndexed(reply, "numHostTranslations", out, [](const std::string& value, CorvaneHostTranslation& t) {
        const Corvane::rcAttrStream entry(value);
        entry.getValue("srcHost", t.srcHost);
        entry.getValue("srcPath", t.srcPath);
        entry.getValue("dstHost", t.dstHost);
        entry.getValue("dstPath", t.dstPath);
    });
}

void decodeOsTypeTranslations(const std::string& reply, std::vector<CorvaneOsTypeTranslation>& out) {
    readIndexed(reply, "numOsTypeTranslations", out, [](const std::string& value, CorvaneOsTypeTranslation& t) {
        const Corvane::rcAttrStream entry(value);
        entry.getValue("srcType", t.srcType);
        entry.getValue("srcPath", t.srcPath);
        entry.getValue("dstType", t.dstType);
        entry.getValue("dstPath", t.dstPath);
    });
}
