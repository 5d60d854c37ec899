#include "client/api/CorvaneEnv.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace {
std::string& userOverride() {
    static std::string user;
    return user;
}
}  // namespace

CorvaneStr getLocalHostName() {
    char name[256];
    if (gethostname(name, sizeof name) != 0)
        return CorvaneStr("unknown");
    name[sizeof name - 1] = '\0';
    return CorvaneStr(name);
}

CorvaneStr getCurrentGroup() {
    const group* gr = getgrgid(getgid());
    return CorvaneStr(gr && gr->gr_name ? gr->gr_name : "unknown");
}

CorvaneStr getCurrentUser() {
    if (!userOverride().empty())
        return CorvaneStr(userOverride().c_str());
    const passwd* pw = getpwuid(getuid());
    return CorvaneStr(pw && pw->pw_name ? pw->pw_name : "unknown");
}

void setCurrentUser(const char* user) { userOverride() = user ? user : ""; }

const char* getOSVersion() { return "unknown"; }

bool isLocalHost(const char* host) {
    return host && (std::strcmp(host, "localhost") == 0 || std::strcmp(host, "127.0.0.1") == 0 ||
                    std::strcmp(host, "::1") == 0);
}
