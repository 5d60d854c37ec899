#include "client/api/CorvaneCurrentUser.h"

#include <unistd.h>

#include <string>

#include "base/osal/CoUser.h"

namespace {
std::string& userOverride() {
    static std::string user;
    return user;
}
}  // namespace

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
