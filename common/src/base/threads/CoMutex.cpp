#include "base/threads/CoMutex.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/loggerBase/CoMsg.h"

namespace Corvane {

CoMutex::CoMutex() : mutex_(new pthread_mutex_t) {
    const int err = pthread_mutex_init(mutex_.get(), nullptr);
    if (err != 0) {
        CO_ERROR("Can't create mutex: %s", std::strerror(err));
        std::abort();
    }
}

CoMutex::~CoMutex() { pthread_mutex_destroy(mutex_.get()); }

void CoMutex::lock() {
    int err;
    while ((err = pthread_mutex_lock(mutex_.get())) == EINTR) {
    }
    if (err != 0) {
        CO_ERROR("Can't lock mutex: %s", std::strerror(err));
        std::abort();
    }
}

bool CoMutex::tryLock() { return pthread_mutex_trylock(mutex_.get()) == 0; }

void CoMutex::unlock() {
    const int err = pthread_mutex_unlock(mutex_.get());
    if (err != 0) {
        CO_ERROR("Can't unlock mutex: %s", std::strerror(err));
        std::abort();
    }
}

}  // namespace Corvane
