#include "Restart.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

void restartProgram(char** argv) {
    // The new program starts with the signals a fresh one gets: the stop
    // signals were blocked while this one served.
    sigset_t none;
    sigemptyset(&none);
    pthread_sigmask(SIG_SETMASK, &none, nullptr);
    std::fflush(nullptr);
    ::execv("/proc/self/exe", argv);
    const int err = errno;
    std::fprintf(stderr, "corvane-gateway: could not start again: %s\n", std::strerror(err));
}
