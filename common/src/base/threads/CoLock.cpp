#include "base/threads/CoLock.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "base/loggerBase/CoMsg.h"

namespace Corvane {

CoLock::CoLock(unsigned int count) {
    if (sem_init(&sem_, 0, count) != 0) {
        const int err = errno;
        CO_ERROR("Can't create semaphore: %s", std::strerror(err));
        std::abort();
    }
}

CoLock::~CoLock() { sem_destroy(&sem_); }

void CoLock::get() {
    while (sem_wait(&sem_) != 0) {
        const int err = errno;
        if (err == EINTR)
            continue;
        CO_ERROR("Can't lock semaphore: %s", std::strerror(err));
        std::abort();
    }
}

bool CoLock::tryGet() {
    while (sem_trywait(&sem_) != 0) {
        if (errno != EINTR)
            return false;
    }
    return true;
}

void CoLock::release() {
    if (sem_post(&sem_) != 0) {
        const int err = errno;
        CO_ERROR("Can't unlock semaphore: %s", std::strerror(err));
        std::abort();
    }
}

int CoLock::valueSnapshot() {
    int value = 0;
    if (sem_getvalue(&sem_, &value) != 0) {
        const int err = errno;
        CO_ERROR("Can't read semaphore: %s", std::strerror(err));
        std::abort();
    }
    return value;
}

}  // namespace Corvane
