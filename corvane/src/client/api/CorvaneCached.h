// Internal to corvane_client.
// One item a handle read from the server, kept until it is marked stale.
// The empty optional is the stale mark, so a value and its flag can never
// disagree. Belongs to the handle's one thread; no lock.
#pragma once

#include <optional>
#include <utility>

template <typename T>
class CorvaneCached {
public:
    // The kept value, or, when there is none, the one read(T&) -> bool
    // reads now, kept on success; null when that read fails.
    template <typename Read>
    const T* get(Read&& read) {
        if (!value_) {
            T fresh{};
            if (!read(fresh))
                return nullptr;
            value_ = std::move(fresh);
        }
        return &*value_;
    }
    void set(T value) { value_ = std::move(value); }
    void markStale() { value_.reset(); }

private:
    std::optional<T> value_;
};
