// Process-wide user and group identity. A program installed set-user-id root
// runs as the invoking user and raises its effective id to root only around
// the few calls that need it; this class records the ids the process started
// with (before main), switches between them, and answers name look-ups in
// the password and group databases. All operations are static.
//
// Not thread-safe: identity is process-wide, so a change affects every
// thread. Callers change identity only around one short call.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

struct group;
struct passwd;

namespace Corvane {

class CoUser {
public:
    CoUser() = delete;

    // Groups reported for one user by groupNamesOfUser() at most.
    static constexpr int kMaxGroups = 64;

    // The real and effective user ids the process started with.
    static uid_t startRealUid();
    static uid_t startEffectiveUid();
    // The last effective user id above 0 set through this class; 0 if none.
    static uid_t lastEffectiveUid();

    // Real id = the real id at start, effective id = 0. The process must
    // have started with effective id 0.
    static bool beRoot();
    // Real id = 0, effective id = the real id at start (or, when that is 0,
    // the last effective id set). False, changing nothing, when both are 0.
    static bool becomeUser();

    // Saves the current pair on UIDStack, then sets the given one.
    static bool pushUser(uid_t realUid, uid_t effectiveUid);
    // Sets the pair saved by the matching pushUser.
    static bool popUser();

    // Whether the process can become root; computed once. When it cannot
    // and abortIfNot is set, prints a message and exits with status 1.
    static bool isRootCapable(bool abortIfNot);

    // setreuid / setregid, raising the effective id to 0 first when that
    // is needed to be allowed the change. True on success.
    static bool setUserIds(uid_t realUid, uid_t effectiveUid);
    static bool setGroupIds(gid_t realGid, gid_t effectiveGid);

    // False, changing nothing, for a name missing from the database.
    static bool setEffectiveUserByName(const char* name);
    static bool setEffectiveGroupByName(const char* name);

    // Name look-ups: false when the database has no entry.
    static bool userName(uid_t uid, std::string* name);
    static bool realUserName(std::string* name);       // real id at start
    static bool effectiveUserName(std::string* name);  // effective id at start
    static bool currentRealUserName(std::string* name);
    static bool realGroupName(std::string* name);  // current real group id
    static bool groupName(gid_t gid, std::string* name);

    // The whole record of a user or group by name, its strings kept in
    // buffer; false when the database has no entry.
    static bool passwdByName(const char* name, struct passwd* record, std::vector<char>* buffer);
    static bool groupByName(const char* name, struct group* record, std::vector<char>* buffer);

    // Every user of the password database, in database order.
    static std::vector<std::string> allUserNames();
    // The user's groups (primary group included), at most kMaxGroups; more
    // are reported and cut. False when the user is unknown.
    static bool groupNamesOfUser(const char* user, std::vector<std::string>* names);

    // Two debug lines with the current real and effective ids.
    static void printCurrentIds();
};

}  // namespace Corvane
