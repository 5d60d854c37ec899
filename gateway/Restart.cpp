#include "Restart.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>
#include <cstdio>
#include <cstring>

void holdStopSignals() {
    sigset_t stops;
    sigemptyset(&stops);
    for (const int signal : {SIGTERM, SIGQUIT, SIGHUP, SIGUSR1})
        sigaddset(&stops, signal);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
}

void restartProgram(char** argv) {
    std::fflush(nullptr);
    ::execv("/proc/self/exe", argv);
    const int err = errno;
    std::fprintf(stderr, "corvane-gateway: could not start again: %s\n", std::strerror(err));
}
