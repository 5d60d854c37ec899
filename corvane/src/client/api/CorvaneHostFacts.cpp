#include "client/api/CorvaneHostFacts.h"

#include <cstddef>
#include <cstring>
#include <optional>
#include <string>

#include "base/osal/CoHostName.h"

namespace {
constexpr size_t kHostNameBytes = 256;
}  // namespace

CorvaneStr getLocalHostName() {
    const std::optional<std::string> name = Corvane::localHostName(kHostNameBytes);
    return CorvaneStr(name ? name->c_str() : "unknown");
}

const char* getOSVersion() { return "unknown"; }

bool isLocalHost(const char* host) {
    return host && (std::strcmp(host, "localhost") == 0 || std::strcmp(host, "127.0.0.1") == 0 ||
                    std::strcmp(host, "::1") == 0);
}
