#include "client/api/CorvaneServerRules.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "base/tcp/CoIoTcpDescriptor.h"
#include "client/api/CorvaneDaemonInfo.h"
#include "client/api/CorvaneHostFacts.h"
#include "client/api/CorvaneMulticastProtocol.h"
#include "client/api/CorvaneServerId.h"

namespace {

constexpr const char* kDefaultDatabase = "OBRAN";

// host, replaced by its address when it begins with a letter and resolves.
std::string resolvedHost(const char* host) {
    std::string address;
    if (host && std::isalpha(static_cast<unsigned char>(host[0])) &&
        Corvane::CoIoTcpDescriptor::getIpAddrFromHostName(host, address))
        return address;
    return host ? host : "";
}

// Walks IP (or FrameIP) entries up to the first empty one.
template <typename Fn>
bool anyAddress(const CorvaneDaemonInfo& record, bool frame, Fn fn) {
    for (int i = 0; i < CorvaneDaemonInfo::kMaxAddresses; ++i) {
        const char* address = frame ? record.getFrameIP(i) : record.getIP(i);
        if (!*address)
            break;
        if (fn(address))
            return true;
    }
    return false;
}

bool lists(const CorvaneDaemonInfo& record, const std::string& host) {
    auto equal = [&host](const char* address) { return host == address; };
    return anyAddress(record, false, equal) || anyAddress(record, true, equal);
}

// The address test: host (already resolved) is one of the record's
// addresses, or names this host while the record describes it. anyName
// widens "names this host" from the loopback names to every name of it.
bool passes(const std::string& host, const CorvaneDaemonInfo& record, const CorvaneThisHost& thisHost, bool anyName) {
    if (lists(record, host))
        return true;
    const bool local = anyName ? thisHost.knowsAs(host) : isLocalHost(host.c_str());
    return local && thisHost.describes(record);
}

// Drops the loopback names of one address list, keeping the others in order.
template <typename Get, typename Set>
void dropLoopback(Get get, Set set) {
    int kept = 0;
    for (int i = 0; i < CorvaneDaemonInfo::kMaxAddresses; ++i) {
        const std::string address = get(i);
        if (!address.empty() && !isLocalHost(address.c_str()))
            set(kept++, address.c_str());
    }
    for (int i = kept; i < CorvaneDaemonInfo::kMaxAddresses; ++i)
        set(i, "");
}

}  // namespace

bool CorvaneThisHost::hasAddress(const std::string& address) const {
    return isLocalHost(address.c_str()) || std::find(addresses.begin(), addresses.end(), address) != addresses.end();
}

bool CorvaneThisHost::knowsAs(const std::string& address) const {
    return hasAddress(address) || (!name.empty() && address == name);
}

bool CorvaneThisHost::describes(const CorvaneDaemonInfo& record) const {
    if (*record.getHostUUID() && !uuid.empty())
        return uuid == record.getHostUUID();
    return !anyAddress(record, false, [this](const char* address) { return !hasAddress(address); });
}

std::string corvaneHostToMatch(const CorvaneServerId& id) {
    return *id.getStorageId() ? std::string() : resolvedHost(id.getHost());
}

bool corvaneMatchesId(const CorvaneDaemonInfo& record, const CorvaneServerId& id, const std::string& resolvedHost,
                      const CorvaneThisHost& host) {
    if (*id.getStorageId())
        return std::strcmp(record.getStorageId(), id.getStorageId()) == 0;
    if (id.getPort() != 0 && id.getPort() != record.getNodePort())
        return false;
    if (*id.getDatabase() && std::strcmp(record.getDatabase(), id.getDatabase()) != 0)
        return false;
    return passes(resolvedHost, record, host, false);
}

bool corvaneSameServer(const CorvaneDaemonInfo& listed, const CorvaneDaemonInfo& fresh, const CorvaneThisHost& host) {
    if (*listed.getStorageId() || *fresh.getStorageId())
        return std::strcmp(listed.getStorageId(), fresh.getStorageId()) == 0;
    if (std::strcmp(listed.getDatabase(), fresh.getDatabase()) != 0)
        return false;
    if (*listed.getHostUUID() || *fresh.getHostUUID())
        return std::strcmp(listed.getHostUUID(), fresh.getHostUUID()) == 0;
    auto names = [&](const char* address) { return passes(resolvedHost(address), fresh, host, true); };
    return anyAddress(listed, false, names) || anyAddress(listed, true, names);
}

void corvaneNormaliseServer(CorvaneDaemonInfo& record, const char* senderAddress, const CorvaneThisHost& host) {
    if (senderAddress) {
        // Index 5 reads as empty: a sixth address is refused by the record.
        for (int i = 0; i <= CorvaneDaemonInfo::kMaxAddresses; ++i) {
            const char* address = record.getIP(i);
            if (std::strcmp(address, senderAddress) == 0)
                break;
            if (!*address) {
                record.setIP(i, senderAddress);
                break;
            }
        }
    }
    if (!host.describes(record)) {
        dropLoopback([&record](int i) { return std::string(record.getIP(i)); },
                     [&record](int i, const char* address) { record.setIP(i, address); });
        dropLoopback([&record](int i) { return std::string(record.getFrameIP(i)); },
                     [&record](int i, const char* address) { record.setFrameIP(i, address); });
    }
    if (record.getNodePort() == 0)
        record.setNodePort(CorvaneMulticastProtocol::kDefaultNodePort);
    if (!*record.getDatabase())
        record.setDatabase(kDefaultDatabase);
}

std::string corvaneAddressText(const CorvaneDaemonInfo& record, bool frame) {
    std::string text;
    anyAddress(record, frame, [&text](const char* address) {
        text += address;
        text += ' ';
        return false;
    });
    return text;
}
