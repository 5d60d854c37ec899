#include "client/api/CorvaneCurrentUser.h"

#include <unistd.h>

#include <mutex>
#include <string>

#include "base/osal/CoUser.h"

namespace {

std::mutex& overrideMutex() {
    static std::mutex mutex;
    return mutex;
}

// Guarded by overrideMutex(); copied out under it.
std::string& processUser() {
    static std::string user;
    return user;
}

thread_local std::string tThreadUser;

std::string userOverride() {
    if (!tThreadUser.empty())
        return tThreadUser;
    std::lock_guard<std::mutex> lock(overrideMutex());
    return processUser();
}

}  // namespace

// The look-ups go through CoUser's re-entrant forms: any thread may ask.
CorvaneStr getCurrentGroup() {
    std::string name;
    return CorvaneStr(Corvane::CoUser::groupName(getgid(), &name) ? name.c_str() : "unknown");
}

CorvaneStr getCurrentUser() {
    const std::string user = userOverride();
    if (!user.empty())
        return CorvaneStr(user.c_str());
    std::string name;
    return CorvaneStr(Corvane::CoUser::userName(getuid(), &name) ? name.c_str() : "unknown");
}

void setCurrentUser(const char* user) {
    std::lock_guard<std::mutex> lock(overrideMutex());
    processUser() = user ? user : "";
}

void setCurrentThreadUser(const char* user) { tThreadUser = user ? user : ""; }
