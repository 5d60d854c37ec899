#include "base/network/CoNetwork.h"

#include <atomic>
#include <cassert>
#include <cstring>
#include <optional>
#include <string>

#include "base/loggerBase/CoMsg.h"
#include "base/network/CoNetworkConfig.h"
#include "base/network/CoNetworkMonitor.h"
#include "base/osal/CoHostName.h"
#include "base/threads/CoLockGuard.h"
#include "base/threads/CoMutex.h"

namespace Corvane {

namespace {

constexpr size_t kHostNameSize = 128;

std::atomic<int> gInitCount{0};

// Serialises the transitions from and to 0, so that a last uninit on one
// thread and a first init on another never start and stop the monitor out of
// order. The count itself is read without it.
CoMutex& transitionMutex() {
    static CoMutex mutex;
    return mutex;
}

}  // namespace

bool CoNetwork::init() {
    CoLockGuard guard(transitionMutex());
    const int before = gInitCount.fetch_add(1);
    assert(before >= 0 && "before >= 0");
    if (before == 0)
        CoNetworkMonitor::init();
    return true;
}

bool CoNetwork::uninit() {
    CoLockGuard guard(transitionMutex());
    const int after = gInitCount.fetch_sub(1) - 1;
    assert(after >= 0 && "after >= 0");
    if (after == 0)
        CoNetworkMonitor::uninit();
    return true;
}

bool CoNetwork::isInitialized() {
    const int count = gInitCount.load();
    assert(count >= 0 && "_initialized >= 0");
    return count > 0;
}

bool CoNetwork::getHostName(char* buffer, size_t size) {
    assert(CoNetwork::isInitialized() && "CoNetwork::isInitialized()");
    assert(buffer && size > 0 && "buffer && size > 0");
    int err = 0;
    std::optional<std::string> name = localHostName(size, &err);
    if (!name) {
        CO_ERROR("Could not retrieve host name: %s", std::strerror(err));
        name = "localhost";
    }
    std::strncpy(buffer, name->c_str(), size);
    buffer[size - 1] = '\0';
    return true;
}

bool CoNetwork::getComputerName(char* buffer, size_t size) { return getHostName(buffer, size); }

bool CoNetwork::getLocalHostName(std::string& name) {
    char buffer[kHostNameSize];
    getHostName(buffer, sizeof buffer);
    name = buffer;
    return true;
}

bool CoNetwork::getLocalDisplayName(std::string& name) {
    assert(CoNetwork::isInitialized() && "CoNetwork::isInitialized()");
    std::string configured;
    if (CoNetworkConfig::instance().getDisplayName(configured) && !configured.empty()) {
        name = configured;
        return true;
    }
    char buffer[kHostNameSize];
    getComputerName(buffer, sizeof buffer);
    name = buffer;
    return true;
}

bool CoNetwork::getLocalUUID(std::string& uuid) {
    assert(CoNetwork::isInitialized() && "CoNetwork::isInitialized()");
    return CoNetworkConfig::instance().getUUID(uuid);
}

}  // namespace Corvane
