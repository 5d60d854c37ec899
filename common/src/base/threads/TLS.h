// Internal to corvane_base.
// Per-thread slots, one POSIX key per slot number, created once on first
// use. Slot kThreadSlot holds the calling thread's CoThread. A slot holds a
// borrowed pointer; nothing is freed when a thread ends.
#pragma once

#include <pthread.h>

#include <cstdlib>

namespace Corvane {

template <int Id>
class TLS {
public:
    static void* get() { return pthread_getspecific(key()); }
    static void set(void* value) { pthread_setspecific(key(), value); }

private:
    static pthread_key_t key() {
        pthread_once(&once_, &createKey);
        return key_;
    }
    static void createKey() {
        // Running out of keys leaves nowhere to keep per-thread state.
        if (pthread_key_create(&key_, nullptr) != 0)
            std::abort();
    }

    static inline pthread_once_t once_ = PTHREAD_ONCE_INIT;
    static inline pthread_key_t key_;
};

// The slot of the calling thread's CoThread.
constexpr int kThreadSlot = 1;

}  // namespace Corvane
