#include "sim/SimSignalWatch.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>

#include "base/loggerBase/CoMsg.h"
#include "sim/SimServer.h"

namespace CorvaneSim {

SimSignalWatch::SimSignalWatch(SimServer& server, int fd) : Corvane::CoIoHandler(kReadEvent), server_(server), fd_(fd) {
    server_.appContext().registerIOHandler(this);
}

SimSignalWatch::~SimSignalWatch() { server_.appContext().unregisterIOHandler(this); }

std::unique_ptr<SimSignalWatch> SimSignalWatch::create(SimServer& server, std::string* error) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    if (::sigprocmask(SIG_BLOCK, &set, nullptr) != 0) {
        const int err = errno;
        *error = "Could not block SIGTERM and SIGINT: " + Corvane::CoIoDescriptor::errnoText(err);
        return nullptr;
    }
    const int fd = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        *error = "Could not watch SIGTERM and SIGINT: " + Corvane::CoIoDescriptor::errnoText(err);
        return nullptr;
    }
    return std::unique_ptr<SimSignalWatch>(new SimSignalWatch(server, fd));
}

bool SimSignalWatch::handleReadable() {
    signalfd_siginfo info;
    const ssize_t n = ::read(fd_.getFd(), &info, sizeof info);
    if (n == static_cast<ssize_t>(sizeof info)) {
        CO_NOTICE("Stopping on signal %u", info.ssi_signo);
        server_.stop();
    }
    return true;
}

}  // namespace CorvaneSim
