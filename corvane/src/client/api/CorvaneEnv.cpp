#include "client/api/CorvaneEnv.h"

#include <pwd.h>
#include <unistd.h>

#include <string>

namespace {
// Set once by the caller before it starts working; read afterwards.
std::string& userOverride() {
    static std::string user;
    return user;
}
}  // namespace

CorvaneStr getCurrentUser() {
    if (!userOverride().empty())
        return CorvaneStr(userOverride().c_str());
    const passwd* pw = getpwuid(getuid());
    return CorvaneStr(pw && pw->pw_name ? pw->pw_name : "unknown");
}

void setCurrentUser(const char* user) { userOverride() = user ? user : ""; }
