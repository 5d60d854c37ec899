#include "base/osal/CoUser.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/env/EnvVar.h"
#include "base/env/EnvVarRegistry.h"
#include "base/loggerBase/CoMsg.h"
#include "base/osal/UIDStack.h"

namespace Corvane {

namespace {

// 1: report failed changes; 2: also print the ids after each change;
// 3: also print the call stack.
EnvVar<int> gSuidDebug("XQ_SUID_DEBUG", 0);
RegEnvVar<int> gSuidDebugReg(__FILE__, gSuidDebug);

constexpr int kStackFrames = 10;
// Password and group records larger than this are treated as missing.
constexpr size_t kMaxRecordBytes = 1 << 20;

struct StartIds {
    uid_t realUid;
    uid_t effectiveUid;
};

const StartIds& startIds() {
    static const StartIds ids{getuid(), geteuid()};
    return ids;
}

// Record the ids before main, before anything can change them.
struct RecordAtStartUp {
    RecordAtStartUp() { startIds(); }
} gRecordAtStartUp;

// Process-wide and unguarded, like identity itself.
struct State {
    uid_t lastEffectiveUid = 0;
    bool rootCapable = false;
    bool rootCapableKnown = false;
};

State& state() {
    static State s;
    return s;
}

void afterChange() {
    const int level = gSuidDebug.getValue();
    if (level >= 2)
        CoUser::printCurrentIds();
    if (level >= 3)
        CoStackDump(kStackFrames);
}

size_t initialBufferSize(int name) {
    const long size = sysconf(name);
    return size > 0 ? static_cast<size_t>(size) : 1024;
}

// Runs one of the re-entrant database look-ups with a buffer that grows
// while the record does not fit.
template <typename Record, typename Call>
bool lookupRecord(int sizeName, Record* record, std::vector<char>* buffer, Call call) {
    buffer->resize(initialBufferSize(sizeName));
    for (;;) {
        Record* result = nullptr;
        const int err = call(record, buffer->data(), buffer->size(), &result);
        if (err == ERANGE && buffer->size() < kMaxRecordBytes) {
            buffer->resize(buffer->size() * 2);
            continue;
        }
        return err == 0 && result;
    }
}

bool passwdByUid(uid_t uid, passwd* pw, std::vector<char>* buffer) {
    return lookupRecord(_SC_GETPW_R_SIZE_MAX, pw, buffer,
                        [uid](passwd* p, char* b, size_t n, passwd** r) { return getpwuid_r(uid, p, b, n, r); });
}

bool passwdByName(const char* name, passwd* pw, std::vector<char>* buffer) {
    return lookupRecord(_SC_GETPW_R_SIZE_MAX, pw, buffer,
                        [name](passwd* p, char* b, size_t n, passwd** r) { return getpwnam_r(name, p, b, n, r); });
}

bool groupByGid(gid_t gid, group* gr, std::vector<char>* buffer) {
    return lookupRecord(_SC_GETGR_R_SIZE_MAX, gr, buffer,
                        [gid](group* g, char* b, size_t n, group** r) { return getgrgid_r(gid, g, b, n, r); });
}

bool groupByName(const char* name, group* gr, std::vector<char>* buffer) {
    return lookupRecord(_SC_GETGR_R_SIZE_MAX, gr, buffer,
                        [name](group* g, char* b, size_t n, group** r) { return getgrnam_r(name, g, b, n, r); });
}

}  // namespace

uid_t CoUser::startRealUid() { return startIds().realUid; }
uid_t CoUser::startEffectiveUid() { return startIds().effectiveUid; }
uid_t CoUser::lastEffectiveUid() { return state().lastEffectiveUid; }

bool CoUser::setUserIds(uid_t realUid, uid_t effectiveUid) {
    // Going from one non-root effective id to another is only allowed
    // from root.
    if (effectiveUid > 0 && effectiveUid != geteuid()) [[maybe_unused]]
        const int toRoot = setreuid(static_cast<uid_t>(-1), 0);  // the next call fails if this did
    // An unchanged real id is passed as -1: naming it would also overwrite
    // the saved set-user-id, and with it the way back to root.
    const uid_t realArg = realUid == getuid() ? static_cast<uid_t>(-1) : realUid;
    if (setreuid(realArg, effectiveUid) != 0) {
        const int err = errno;
        if (gSuidDebug.getValue() >= 1)
            CO_DEBUG("ERROR setting UID (%d, %d): %s", static_cast<int>(realUid), static_cast<int>(effectiveUid),
                     std::strerror(err));
        return false;
    }
    if (effectiveUid > 0)
        state().lastEffectiveUid = effectiveUid;
    afterChange();
    return true;
}

bool CoUser::setGroupIds(gid_t realGid, gid_t effectiveGid) {
    if (effectiveGid > 0 && effectiveGid != getegid()) [[maybe_unused]]
        const int toRoot = setregid(static_cast<gid_t>(-1), 0);  // the next call fails if this did
    const gid_t realArg = realGid == getgid() ? static_cast<gid_t>(-1) : realGid;
    if (setregid(realArg, effectiveGid) != 0) {
        const int err = errno;
        if (gSuidDebug.getValue() >= 1)
            CO_DEBUG("ERROR setting GID (%d, %d): %s", static_cast<int>(realGid), static_cast<int>(effectiveGid),
                     std::strerror(err));
        return false;
    }
    afterChange();
    return true;
}

bool CoUser::beRoot() {
    assert(startEffectiveUid() == 0 && "ERROR, this program must have root privileges!");
    if (gSuidDebug.getValue() >= 1)
        CO_DEBUG("Becoming Root");
    return setUserIds(startRealUid(), 0);
}

bool CoUser::becomeUser() {
    if (gSuidDebug.getValue() >= 1)
        CO_DEBUG("Becoming User");
    const uid_t user = startRealUid() != 0 ? startRealUid() : lastEffectiveUid();
    if (user == 0)
        return false;
    return setUserIds(0, user);
}

bool CoUser::pushUser(uid_t realUid, uid_t effectiveUid) {
    UIDStack::instance().push(UIDStack::Pair{getuid(), geteuid()});
    return setUserIds(realUid, effectiveUid);
}

bool CoUser::popUser() {
    UIDStack& stack = UIDStack::instance();
    assert(!stack.empty() && "!UIDStack.empty()");
    if (stack.empty())
        return false;
    const UIDStack::Pair pair = stack.pop();
    return setUserIds(pair.realUid, pair.effectiveUid);
}

bool CoUser::isRootCapable(bool abortIfNot) {
    State& s = state();
    const bool first = !s.rootCapableKnown;
    if (first) {
        s.rootCapableKnown = true;
        if (startEffectiveUid() == 0) {
            beRoot();
            s.rootCapable = geteuid() == 0;
        }
    }
    if (!s.rootCapable && abortIfNot) {
        std::fputs("Effective User ID not 0 (root) !\nAborting....\n", stderr);
        std::exit(1);
    }
    if (first && startEffectiveUid() == 0)
        becomeUser();
    return s.rootCapable;
}

bool CoUser::setEffectiveUserByName(const char* name) {
    passwd pw;
    std::vector<char> buffer;
    if (!name || !passwdByName(name, &pw, &buffer))
        return false;
    return setUserIds(getuid(), pw.pw_uid);
}

bool CoUser::setEffectiveGroupByName(const char* name) {
    group gr;
    std::vector<char> buffer;
    if (!name || !groupByName(name, &gr, &buffer))
        return false;
    return setGroupIds(getgid(), gr.gr_gid);
}

bool CoUser::userName(uid_t uid, std::string* name) {
    passwd pw;
    std::vector<char> buffer;
    if (!passwdByUid(uid, &pw, &buffer))
        return false;
    if (name)
        *name = pw.pw_name;
    return true;
}

bool CoUser::realUserName(std::string* name) { return userName(startRealUid(), name); }
bool CoUser::effectiveUserName(std::string* name) { return userName(startEffectiveUid(), name); }
bool CoUser::currentRealUserName(std::string* name) { return userName(getuid(), name); }
bool CoUser::realGroupName(std::string* name) { return groupName(getgid(), name); }

bool CoUser::groupName(gid_t gid, std::string* name) {
    group gr;
    std::vector<char> buffer;
    if (!groupByGid(gid, &gr, &buffer))
        return false;
    if (name)
        *name = gr.gr_name;
    return true;
}

std::vector<std::string> CoUser::allUserNames() {
    std::vector<std::string> names;
    // The enumeration functions share one process-wide cursor.
    setpwent();
    while (const passwd* pw = getpwent())
        names.push_back(pw->pw_name);
    endpwent();
    return names;
}

bool CoUser::groupNamesOfUser(const char* user, std::vector<std::string>* names) {
    passwd pw;
    std::vector<char> buffer;
    if (!user || !passwdByName(user, &pw, &buffer))
        return false;
    gid_t gids[kMaxGroups];
    int count = kMaxGroups;
    if (getgrouplist(user, pw.pw_gid, gids, &count) < 0) {
        // The first kMaxGroups were copied; count now holds the total.
        CO_WARNING("More than %d groups for user %s", kMaxGroups, user);
        count = kMaxGroups;
    }
    names->clear();
    for (int i = 0; i < count; ++i) {
        std::string name;
        if (groupName(gids[i], &name))
            names->push_back(name);
    }
    return true;
}

void CoUser::printCurrentIds() {
    CO_DEBUG("APPLICATION CURRENT REAL USER       UID: %d, GID: %d\n", static_cast<int>(getuid()),
             static_cast<int>(getgid()));
    CO_DEBUG("APPLICATION CURRENT EFFECTIVE USER  UID: %d, GID: %d\n", static_cast<int>(geteuid()),
             static_cast<int>(getegid()));
}

bool CoUser::passwdByName(const char* name, struct passwd* record, std::vector<char>* buffer) {
    return Corvane::passwdByName(name, record, buffer);
}

bool CoUser::groupByName(const char* name, struct group* record, std::vector<char>* buffer) {
    return Corvane::groupByName(name, record, buffer);
}

}  // namespace Corvane
