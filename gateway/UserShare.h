// Internal to the gateway.
// How many requests each user has in flight in one process, so that one
// user can not hold every thread of it: a claim counts one request of a
// user for as long as it lives, and is refused when the user already holds
// the limit. Thread-safe. A user's entry goes when the count drops to 0,
// so the table holds no more entries than there are requests in flight.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

class UserShare {
public:
    // One request of one user, counted until the claim is destroyed. A
    // refused claim counts nothing. Move-only; used by one thread.
    class Claim {
    public:
        // Counts nothing and is granted: for requests the share does not
        // govern.
        Claim() = default;
        ~Claim();
        Claim(Claim&& other) noexcept;
        Claim& operator=(Claim&&) = delete;
        Claim(const Claim&) = delete;
        Claim& operator=(const Claim&) = delete;

        bool granted() const { return granted_; }

    private:
        friend class UserShare;
        Claim(UserShare* share, std::string user, bool granted);

        UserShare* share_ = nullptr;  // null: nothing to give back
        std::string user_;
        bool granted_ = true;
    };

    UserShare() = default;
    UserShare(const UserShare&) = delete;
    UserShare& operator=(const UserShare&) = delete;

    // Counts one more request of user, unless user already has limit in
    // flight; a limit of 0 counts without refusing. Must not outlive the
    // share.
    Claim claim(const std::string& user, size_t limit);

    // The users with requests in flight now.
    size_t users() const;

private:
    void release(const std::string& user);

    mutable std::mutex mutex_;  // guards counts_
    std::unordered_map<std::string, size_t> counts_;  // never holds a 0
};
