#include "base/network/CoNetworkDispatcher.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstring>

#include "base/loggerBase/CoMsg.h"
#include "base/network/CoNetlink.h"
#include "base/network/CoNetworkConfig.h"
#include "base/threads/CoLockGuard.h"

namespace Corvane {

namespace {

constexpr size_t kAddressTextSize = 46;  // the longest IPv6 text and its NUL

// Owns the getifaddrs list.
class InterfaceAddresses {
public:
    InterfaceAddresses() = default;
    ~InterfaceAddresses() {
        if (list_)
            freeifaddrs(list_);
    }
    InterfaceAddresses(const InterfaceAddresses&) = delete;
    InterfaceAddresses& operator=(const InterfaceAddresses&) = delete;

    int read() { return getifaddrs(&list_) == 0 ? 0 : errno; }
    const ifaddrs* first() const { return list_; }

private:
    ifaddrs* list_ = nullptr;
};

// Where name stands in a role's configured names. An empty list takes every
// interface at rank 0; a loopback interface the list does not name is
// always taken, at rank 0.
bool qualifies(const std::vector<std::string>& names, const std::string& name, bool loopback, unsigned& rank) {
    rank = 0;
    if (names.empty())
        return true;
    const auto found = std::find(names.begin(), names.end(), name);
    if (found != names.end()) {
        rank = static_cast<unsigned>(found - names.begin());
        return true;
    }
    return loopback;
}

socklen_t addressSize(int family) { return family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6); }

bool isLoopback(const CoNetworkDispatcher::Entry& entry) { return entry.interface->has(CoNetworkInterface::Loopback); }
bool isGateway(const CoNetworkDispatcher::Entry& entry) { return entry.interface->has(CoNetworkInterface::Gateway); }

// The order shared by both sorts, except for speed; returns -1, 0 or 1 at the
// first criterion that tells a and b apart.
int compareBeforeSpeed(const CoNetworkDispatcher::Entry& a, const CoNetworkDispatcher::Entry& b) {
    if (a.rank != b.rank)
        return a.rank < b.rank ? -1 : 1;
    if (isLoopback(a) != isLoopback(b))
        return isLoopback(a) ? -1 : 1;
    return 0;
}

bool lessAfterSpeed(const CoNetworkDispatcher::Entry& a, const CoNetworkDispatcher::Entry& b) {
    if (isGateway(a) != isGateway(b))
        return isGateway(a);
    return a.interface->name() < b.interface->name();
}

}  // namespace

// The configured names of each role.
struct CoNetworkDispatcher::RoleNames {
    std::vector<std::string> metadata;
    std::vector<std::string> data;
    std::vector<std::string> multicast;
};

CoNetworkDispatcher::Monitor::Monitor(CoNetworkDispatcher* dispatcher) : dispatcher_(dispatcher) { activate(); }

CoNetworkDispatcher::Monitor::~Monitor() { deactivate(); }

void CoNetworkDispatcher::Monitor::callback() {
    assert(dispatcher_ && "_dispatcher");
    dispatcher_->update(true);
}

CoNetworkDispatcher::CoNetworkDispatcher(bool monitor) {
    if (monitor)
        monitor_ = std::make_unique<Monitor>(this);
}

CoNetworkDispatcher::~CoNetworkDispatcher() {
    monitor_.reset();  // no rebuild may start on a half-destroyed dispatcher
}

void CoNetworkDispatcher::addObserver(Observer* observer) {
    CoLockGuard guard(mutex_);
    if (std::find(observers_.begin(), observers_.end(), observer) == observers_.end())
        observers_.push_back(observer);
}

void CoNetworkDispatcher::removeObserver(Observer* observer) {
    CoLockGuard guard(mutex_);
    observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

std::string CoNetworkDispatcher::lastError() const {
    CoLockGuard guard(mutex_);
    return logger_.lastError();
}

bool CoNetworkDispatcher::update(bool force) {
    std::vector<std::string> warnings;
    bool ok = false;
    {
        CoLockGuard guard(mutex_);
        ok = updateLocked(force, warnings);
    }
    postWarnings(warnings);
    return ok;
}

bool CoNetworkDispatcher::getInterfaces(std::vector<CoNetworkInterface>& interfaces, Type type, const Filter& filter) {
    std::vector<std::string> warnings;
    bool ok = false;
    {
        CoLockGuard guard(mutex_);
        ok = updateLocked(false, warnings);
        if (ok) {
            interfaces.clear();
            for (const Entry& entry : listLocked(type))
                if (filter.empty() || filter(*entry.interface))
                    interfaces.push_back(*entry.interface);
        }
    }
    postWarnings(warnings);
    return ok;
}

void CoNetworkDispatcher::postWarnings(const std::vector<std::string>& warnings) {
    for (const std::string& warning : warnings)
        CO_WARNING("%s", warning.c_str());
}

const std::vector<CoNetworkDispatcher::Entry>& CoNetworkDispatcher::listLocked(Type type) const {
    switch (type) {
        case Type::Metadata:
            return metadata_;
        case Type::Data:
            return data_;
        case Type::Multicast:
            return multicast_;
        case Type::All:
            break;
    }
    return all_;
}

bool CoNetworkDispatcher::readConfigurationLocked(RoleNames& names) {
    CoNetworkConfig& config = CoNetworkConfig::instance();
    if (config.getMetadataInterfaces(names.metadata) && config.getDataInterfaces(names.data) &&
        config.getMulticastInterfaces(names.multicast))
        return true;
    // The configuration posted the error already; only record it here.
    const bool silent = logger_.silentMode();
    logger_.setSilentMode(true);
    CO_LAST_ERR(logger_).postError("%s", config.lastError().c_str());
    logger_.setSilentMode(silent);
    return false;
}

bool CoNetworkDispatcher::updateLocked(bool force, std::vector<std::string>& warnings) {
    if (initialised_ && !force)
        return true;
    std::vector<std::unique_ptr<CoNetworkInterface>> old;
    old.swap(interfaces_);
    all_.clear();
    metadata_.clear();
    data_.clear();
    multicast_.clear();

    RoleNames names;
    InterfaceAddresses addresses;
    int err = 0;
    if (!readConfigurationLocked(names) || (err = addresses.read()) != 0) {
        if (err != 0)
            CO_LAST_ERR(logger_).postError("%s", std::strerror(err));
        // The lists stay empty and the next call tries again. What the
        // observers were last told stays the base of the next comparison.
        interfaces_.swap(old);
        initialised_ = false;
        return false;
    }
    const std::string gateway = CoNetlink::defaultGatewayInterface(logger_);

    for (const ifaddrs* entry = addresses.first(); entry; entry = entry->ifa_next)
        addLocked(*entry, names, gateway);

    notifyLocked(old);
    // Stable, so that the addresses of one interface keep the system's order.
    std::stable_sort(metadata_.begin(), metadata_.end(), &CoNetworkDispatcher::metadataSort);
    std::stable_sort(data_.begin(), data_.end(), &CoNetworkDispatcher::dataSort);
    std::stable_sort(multicast_.begin(), multicast_.end(), &CoNetworkDispatcher::metadataSort);
    findMissingLocked(names, warnings);
    initialised_ = true;
    return true;
}

void CoNetworkDispatcher::addLocked(const ifaddrs& entry, const RoleNames& names, const std::string& gateway) {
    const unsigned flags = entry.ifa_flags;
    if (!(flags & IFF_UP) || !(flags & IFF_RUNNING) || !entry.ifa_addr || !entry.ifa_netmask)
        return;
    const int family = entry.ifa_addr->sa_family;
    if (family != entry.ifa_netmask->sa_family || (family != AF_INET && family != AF_INET6))
        return;
    const std::string name = entry.ifa_name ? entry.ifa_name : "";
    const bool loopback = (flags & IFF_LOOPBACK) != 0;
    int attributes = loopback ? CoNetworkInterface::Loopback : CoNetworkInterface::None;
    attributes |= family == AF_INET ? CoNetworkInterface::IPv4 : CoNetworkInterface::IPv6;
    const auto& multicastNames = names.multicast;
    if ((flags & IFF_MULTICAST) && (multicastNames.empty() || std::find(multicastNames.begin(), multicastNames.end(),
                                                                        name) != multicastNames.end()))
        attributes |= CoNetworkInterface::Multicast;
    if (!gateway.empty() && name == gateway)
        attributes |= CoNetworkInterface::Gateway;

    char address[kAddressTextSize];
    char netmask[kAddressTextSize];
    int rc = getnameinfo(entry.ifa_addr, addressSize(family), address, sizeof address, nullptr, 0, NI_NUMERICHOST);
    if (rc == 0)
        rc = getnameinfo(entry.ifa_netmask, addressSize(family), netmask, sizeof netmask, nullptr, 0, NI_NUMERICHOST);
    if (rc != 0) {
        CO_LAST_ERR(logger_).postError("%s", gai_strerror(rc));
        return;
    }
    const int speed =
        name.compare(0, 2, "ib") == 0 ? CoNetworkInterface::kInfinibandSpeed : CoNetworkInterface::kDefaultSpeed;
    interfaces_.push_back(std::make_unique<CoNetworkInterface>(name, attributes, address, netmask, speed));
    const CoNetworkInterface* added = interfaces_.back().get();

    all_.push_back(Entry{added, 0});
    unsigned rank = 0;
    if (qualifies(names.metadata, name, loopback, rank))
        metadata_.push_back(Entry{added, rank});
    if (qualifies(names.data, name, loopback, rank))
        data_.push_back(Entry{added, rank});
    if ((attributes & CoNetworkInterface::Multicast) && qualifies(names.multicast, name, loopback, rank))
        multicast_.push_back(Entry{added, rank});
}

void CoNetworkDispatcher::notifyLocked(const std::vector<std::unique_ptr<CoNetworkInterface>>& old) {
    if (observers_.empty())
        return;
    auto contains = [](const std::vector<std::unique_ptr<CoNetworkInterface>>& list, const CoNetworkInterface& i) {
        return std::any_of(list.begin(), list.end(),
                           [&i](const std::unique_ptr<CoNetworkInterface>& p) { return *p == i; });
    };
    for (const auto& gone : old)
        if (!contains(interfaces_, *gone))
            for (Observer* observer : observers_)
                observer->interfaceChanged(kInterfaceRemoved, *gone);
    for (const auto& added : interfaces_)
        if (!contains(old, *added))
            for (Observer* observer : observers_)
                observer->interfaceChanged(kInterfaceAdded, *added);
}

void CoNetworkDispatcher::findMissingLocked(const RoleNames& names, std::vector<std::string>& warnings) const {
    const struct {
        const char* role;
        const std::vector<std::string>& names;
        const std::vector<Entry>& list;
    } roles[] = {
        {"Metadata", names.metadata, metadata_},
        {"Data", names.data, data_},
        {"Multicast", names.multicast, multicast_},
    };
    for (const auto& role : roles)
        for (const std::string& name : role.names) {
            const bool present = std::any_of(role.list.begin(), role.list.end(),
                                             [&name](const Entry& entry) { return entry.interface->name() == name; });
            if (!present)
                warnings.push_back(std::string(role.role) + " interface '" + name + "' is invalid or down");
        }
}

bool CoNetworkDispatcher::metadataSort(const Entry& a, const Entry& b) {
    if (const int order = compareBeforeSpeed(a, b))
        return order < 0;
    if (a.interface->speed() != b.interface->speed())
        return a.interface->speed() < b.interface->speed();
    return lessAfterSpeed(a, b);
}

bool CoNetworkDispatcher::dataSort(const Entry& a, const Entry& b) {
    if (const int order = compareBeforeSpeed(a, b))
        return order < 0;
    if (a.interface->speed() != b.interface->speed())
        return a.interface->speed() > b.interface->speed();
    return lessAfterSpeed(a, b);
}

CoNetworkDispatcher::Type CoNetworkDispatcher::getTypeFromStr(const char* type) {
    assert(type && "type");
    if (std::strcmp(type, "metadata") == 0)
        return Type::Metadata;
    if (std::strcmp(type, "data") == 0)
        return Type::Data;
    if (std::strcmp(type, "multicast") == 0)
        return Type::Multicast;
    return Type::All;
}

const char* CoNetworkDispatcher::getTypeStr(Type type) {
    switch (type) {
        case Type::Metadata:
            return "metadata";
        case Type::Data:
            return "data";
        case Type::Multicast:
            return "multicast";
        case Type::All:
            break;
    }
    return "all";
}

}  // namespace Corvane
