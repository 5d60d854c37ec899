// Reference-counted switch of the network layer and the local host queries.
// Between the first init() and the last uninit() the topology monitor runs
// for whoever observes it (see CoNetworkMonitor); callers pair the two. Safe from any thread.
#pragma once

#include <cstddef>
#include <string>

namespace Corvane {

class CoNetwork {
public:
    static bool init();    // always true
    static bool uninit();  // always true
    static bool isInitialized();

    // The queries below require isInitialized().

    // gethostname into buffer; "localhost" (with an error posted) when that
    // fails. The last byte is always NUL. Always true.
    static bool getHostName(char* buffer, size_t size);
    // The same value under the name other modules know it by.
    static bool getComputerName(char* buffer, size_t size);
    static bool getLocalHostName(std::string& name);
    // The configured display name, or the computer name when there is none.
    static bool getLocalDisplayName(std::string& name);
    // The configured UUID; false when there is none or it is invalid.
    static bool getLocalUUID(std::string& uuid);

private:
    CoNetwork() = delete;
};

}  // namespace Corvane
