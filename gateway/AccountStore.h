// Internal to the gateway.
// The per-user account store: one opaque document per web user in
// ./account/<user>.xml, relative to the working directory, where <user> is
// the whole web user name with every byte but A-Z a-z 0-9 . _ - @ (and a
// leading ".") written as %XX: no two users share a file, and none leaves
// ./account. With CORVANE_ACCOUNT_STRIP_DOMAIN the name is first cut after
// its last backslash.
//
// A save never touches the document it replaces: it writes the new one to
// ./account/<user>.xml.tmp, flushes it to disk, renames it over the old
// one and flushes the directory. A load therefore reads either document
// whole, never a torn or empty one, without a lock; a save that fails, or
// a process killed at any point of it, leaves the old document in place.
// Saves of one user take turns on an advisory lock of ./account/<user>.lock
// (a file that is never replaced), waited for no longer than the browse
// time-out or what is left of the request's. Errors are thrown as
// std::string messages. Holds no state of its own between calls; any
// thread.
#pragma once

#include <cstdint>
#include <string>

class RequestLimits;

class AccountStore {
public:
    // user: the web user's whole name, as the web server gave it.
    AccountStore(const std::string& user, bool stripDomain);

    // The user's document, empty when never saved; limits bound its size.
    std::string load(const RequestLimits& limits) const;
    // Replaces the user's document with document, which must not be empty;
    // waits at most lockWaitMs for another save of the same user.
    void save(const std::string& document, int32_t lockWaitMs) const;

    // The name cut after its last backslash (domain\user -> user).
    static std::string domainStripped(const std::string& user);

private:
    const std::string user_;
    const bool stripDomain_;
};
