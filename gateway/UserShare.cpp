#include "UserShare.h"

#include <cassert>
#include <utility>

UserShare::Claim::Claim(UserShare* share, std::string user, bool granted)
    : share_(share), user_(std::move(user)), granted_(granted) {}

UserShare::Claim::Claim(Claim&& other) noexcept
    : share_(std::exchange(other.share_, nullptr)), user_(std::move(other.user_)), granted_(other.granted_) {}

UserShare::Claim::~Claim() {
    if (share_)
        share_->release(user_);
}

UserShare::Claim UserShare::claim(const std::string& user, size_t limit) {
    // Copied first: once counted, nothing may throw before the claim holds it.
    std::string name = user;
    std::lock_guard<std::mutex> guard(mutex_);
    size_t& count = counts_[name];
    if (limit != 0 && count >= limit)
        return Claim(nullptr, std::string(), false);
    ++count;
    return Claim(this, std::move(name), true);
}

void UserShare::release(const std::string& user) {
    std::lock_guard<std::mutex> guard(mutex_);
    const auto entry = counts_.find(user);
    assert(entry != counts_.end() && entry->second > 0 && "a claim released twice");
    if (--entry->second == 0)
        counts_.erase(entry);
}

size_t UserShare::users() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return counts_.size();
}
