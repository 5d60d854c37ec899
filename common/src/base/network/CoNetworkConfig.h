// This host's network role as written in the network configuration file:
// which interfaces carry metadata, data and discovery traffic, how discovery
// is reached, and the host's identity. The file is read once per process, at
// the first question; a missing file behaves as an empty one, so every caller
// default applies. One process-wide object; every call is serialised by its
// own lock, so any thread may ask.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/loggerBase/CoLastErrLogger.h"

namespace Corvane {

class CoConfigFileReader;

class CoNetworkConfig : public CoLastErrLogger {
public:
    static constexpr const char* CFG_FILE_NAME = "/usr/pellane/cfg/network.cfg";
    // Names another file to read instead, when set and not empty.
    static constexpr const char* CFG_FILE_ENV = "CORVANE_NETWORK_CONFIG";

    static constexpr const char* LOCAL_SECTION_TOKEN = "Local";
    static constexpr const char* LOCAL_UUID_TOKEN = "UUID";
    static constexpr const char* LOCAL_DISPLAY_NAME_TOKEN = "DisplayName";
    static constexpr const char* INTERFACES_SECTION_TOKEN = "Interfaces";
    static constexpr const char* INTERFACES_METADATA_TOKEN = "Metadata";
    static constexpr const char* INTERFACES_DATA_TOKEN = "Data";
    static constexpr const char* INTERFACES_MULTICAST_TOKEN = "Multicast";
    static constexpr const char* SELF_DISCOVERY_SECTION_TOKEN = "SelfDiscovery";
    static constexpr const char* SELF_DISCOVERY_PORT_TOKEN = "Port";
    static constexpr const char* SELF_DISCOVERY_SCOPE_TOKEN = "Scope";
    static constexpr const char* SELF_DISCOVERY_TTL_TOKEN = "TTL";

    static CoNetworkConfig& instance();

    // Every getter returns false, leaving its output as it was, only when the
    // file exists but could not be read; lastError() then says why.

    // False also when no UUID is configured (recorded quietly in lastError())
    // or when the value is not a valid UUID (posted as an error).
    bool getUUID(std::string& uuid);
    // "" when absent.
    bool getDisplayName(std::string& name);
    // Comma-separated names, blanks around each removed, empty items kept.
    // The output is emptied first, also when the file could not be read.
    bool getMetadataInterfaces(std::vector<std::string>& names);
    bool getDataInterfaces(std::vector<std::string>& names);
    bool getMulticastInterfaces(std::vector<std::string>& names);
    // The output keeps its value (the caller's default) when the key is
    // absent or does not start with an unsigned number.
    bool getSelfDiscoveryPort(unsigned& port);
    bool getSelfDiscoveryTTL(unsigned& ttl);
    bool getSelfDiscoveryScope(std::string& scope);

    // A copy taken under the lock, so that it is safe while other threads ask.
    // Hides the base class accessor on purpose.
    std::string lastError() const;

    // For tests only: forget what was loaded and read fileName at the next
    // question.
    static void setFileNameForTesting(const std::string& fileName);

private:
    CoNetworkConfig();
    ~CoNetworkConfig();
    CoNetworkConfig(const CoNetworkConfig&) = delete;
    CoNetworkConfig& operator=(const CoNetworkConfig&) = delete;

    bool loadLocked();
    bool getListLocked(const char* key, std::vector<std::string>& names);
    bool getUnsignedLocked(const char* section, const char* key, unsigned& value);

    // Guarded, with the logger, by one process-wide lock.
    std::unique_ptr<CoConfigFileReader> reader_;  // null until the first question
    std::string fileName_;
};

}  // namespace Corvane
