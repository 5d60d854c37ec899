#include "base/network/CoNetworkConfig.h"

#include <uuid/uuid.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/fileUtil/CoConfigFileReader.h"
#include "base/threads/CoLockGuard.h"
#include "base/threads/CoMutex.h"

namespace Corvane {

namespace {

CoMutex& configMutex() {
    static CoMutex mutex;
    return mutex;
}

void trim(std::string& text) {
    const char* blanks = " \t\r\n\f\v";
    const size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) {
        text.clear();
        return;
    }
    text.erase(text.find_last_not_of(blanks) + 1);
    text.erase(0, first);
}

// Restores the logger's silent mode on every way out.
class SilentScope {
public:
    explicit SilentScope(CoLastErrLogger& logger) : logger_(logger), old_(logger.silentMode()) {
        logger_.setSilentMode(true);
    }
    ~SilentScope() { logger_.setSilentMode(old_); }
    SilentScope(const SilentScope&) = delete;
    SilentScope& operator=(const SilentScope&) = delete;

private:
    CoLastErrLogger& logger_;
    bool old_;
};

}  // namespace

// A host may keep its network file elsewhere (a demo, a second installation
// beside the system one); an empty value counts as unset.
CoNetworkConfig::CoNetworkConfig() {
    const char* named = std::getenv(CFG_FILE_ENV);
    fileName_ = named && *named ? named : CFG_FILE_NAME;
}

CoNetworkConfig::~CoNetworkConfig() = default;

CoNetworkConfig& CoNetworkConfig::instance() {
    configMutex();  // made first, so that it outlives the object at exit
    static CoNetworkConfig config;
    return config;
}

void CoNetworkConfig::setFileNameForTesting(const std::string& fileName) {
    CoNetworkConfig& config = instance();
    CoLockGuard guard(configMutex());
    config.fileName_ = fileName;
    config.reader_.reset();
}

std::string CoNetworkConfig::lastError() const {
    CoLockGuard guard(configMutex());
    return CoLastErrLogger::lastError();
}

bool CoNetworkConfig::loadLocked() {
    if (reader_)
        return true;
    // Read once per process: a failed read leaves an empty content behind.
    reader_ = std::make_unique<CoConfigFileReader>(nullptr);
    const int err = reader_->read(fileName_.c_str(), 0);
    if (err == 0 || err == ENOENT)
        return true;
    CO_LAST_ERR(*this).postError("Could not read '%s': %s", fileName_.c_str(), std::strerror(err));
    return false;
}

bool CoNetworkConfig::getUUID(std::string& uuid) {
    CoLockGuard guard(configMutex());
    if (!loadLocked())
        return false;
    std::string value;
    reader_->getString(LOCAL_SECTION_TOKEN, LOCAL_UUID_TOKEN, value, "");
    if (value.empty()) {
        // Many hosts have no UUID; callers fall back quietly.
        SilentScope silent(*this);
        CO_LAST_ERR(*this).postError("No host UUID configured. Please check %s.", fileName_.c_str());
        return false;
    }
    uuid_t parsed;
    if (uuid_parse(value.c_str(), parsed) != 0) {
        CO_LAST_ERR(*this).postError("Invalid UUID '%s'", value.c_str());
        return false;
    }
    uuid = value;
    return true;
}

bool CoNetworkConfig::getDisplayName(std::string& name) {
    CoLockGuard guard(configMutex());
    if (!loadLocked())
        return false;
    reader_->getString(LOCAL_SECTION_TOKEN, LOCAL_DISPLAY_NAME_TOKEN, name, "");
    return true;
}

bool CoNetworkConfig::getListLocked(const char* key, std::vector<std::string>& names) {
    names.clear();
    if (!loadLocked())
        return false;
    std::string value;
    reader_->getString(INTERFACES_SECTION_TOKEN, key, value, "");
    if (value.empty())
        return true;
    size_t start = 0;
    for (;;) {
        const size_t comma = value.find(',', start);
        std::string item = value.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        trim(item);
        names.push_back(item);
        if (comma == std::string::npos)
            return true;
        start = comma + 1;
    }
}

bool CoNetworkConfig::getMetadataInterfaces(std::vector<std::string>& names) {
    CoLockGuard guard(configMutex());
    return getListLocked(INTERFACES_METADATA_TOKEN, names);
}

bool CoNetworkConfig::getDataInterfaces(std::vector<std::string>& names) {
    CoLockGuard guard(configMutex());
    return getListLocked(INTERFACES_DATA_TOKEN, names);
}

bool CoNetworkConfig::getMulticastInterfaces(std::vector<std::string>& names) {
    CoLockGuard guard(configMutex());
    return getListLocked(INTERFACES_MULTICAST_TOKEN, names);
}

bool CoNetworkConfig::getUnsignedLocked(const char* section, const char* key, unsigned& value) {
    if (!loadLocked())
        return false;
    reader_->getUnsigned(section, key, value, value);
    return true;
}

bool CoNetworkConfig::getSelfDiscoveryPort(unsigned& port) {
    CoLockGuard guard(configMutex());
    return getUnsignedLocked(SELF_DISCOVERY_SECTION_TOKEN, SELF_DISCOVERY_PORT_TOKEN, port);
}

bool CoNetworkConfig::getSelfDiscoveryTTL(unsigned& ttl) {
    CoLockGuard guard(configMutex());
    return getUnsignedLocked(SELF_DISCOVERY_SECTION_TOKEN, SELF_DISCOVERY_TTL_TOKEN, ttl);
}

bool CoNetworkConfig::getSelfDiscoveryScope(std::string& scope) {
    CoLockGuard guard(configMutex());
    if (!loadLocked())
        return false;
    std::string value;
    if (reader_->getString(SELF_DISCOVERY_SECTION_TOKEN, SELF_DISCOVERY_SCOPE_TOKEN, value, ""))
        scope = value;
    return true;
}

}  // namespace Corvane
