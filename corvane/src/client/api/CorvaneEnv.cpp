#include "client/api/CorvaneEnv.h"

#include <unistd.h>

#include <cstring>
#include <optional>
#include <string>

#include "base/osal/CoHostName.h"
#include "base/osal/CoUser.h"

namespace {
std::string& userOverride() {
    static std::string user;
    return user;
}
}  // namespace

CorvaneStr getLocalHostName() {
    const std::optional<std::string> name = Corvane::localHostName();
    return CorvaneStr(name ? name->c_str() : "unknown");
}

// The look-ups go through CoUser's re-entrant forms: any thread may ask.
CorvaneStr getCurrentGroup() {
    std::string name;
    return CorvaneStr(Corvane::CoUser::groupName(getgid(), &name) ? name.c_str() : "unknown");
}

CorvaneStr getCurrentUser() {
    if (!userOverride().empty())
        return CorvaneStr(userOverride().c_str());
    std::string name;
    return CorvaneStr(Corvane::CoUser::userName(getuid(), &name) ? name.c_str() : "unknown");
}

void setCurrentUser(const char* user) { userOverride() = user ? user : ""; }

const char* getOSVersion() { return "unknown"; }

bool isLocalHost(const char* host) {
    return host && (std::strcmp(host, "localhost") == 0 || std::strcmp(host, "127.0.0.1") == 0 ||
                    std::strcmp(host, "::1") == 0);
}
