#include "sim/SimFrames.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "base/loggerBase/CoException.h"
#include "base/loggerBase/CoMsg.h"
#include "base/tcp/CoIoDescriptor.h"
#include "base/tcp/CoIoTcpServerDescriptor.h"
#include "sim/SimFrameConnection.h"

namespace CorvaneSim {

namespace {

constexpr int kBacklog = 16;
// Rounds of binding every address to one port, when any port will do.
constexpr int kPortAttempts = 20;

[[noreturn]] void throwText(const std::string& text) { throw Corvane::CoException(text.c_str(), __LINE__, __FILE__); }

std::string errnoText(int err) { return Corvane::CoIoDescriptor::errnoText(err); }

void setInt(int fd, int level, int name, int value) { ::setsockopt(fd, level, name, &value, sizeof value); }

}  // namespace

SimFrames::SimFrames(const SimOptions& options, std::string redirectRecord)
    : files_(options.fileDir), redirectRecord_(std::move(redirectRecord)) {
    try {
        listen(options);
        SimOptions bound = options;
        bound.framePort = port_;
        const std::string path = bound.localSocketPath();
        if (!path.empty())
            openLocalSocket(path);
        if (!options.callLog.empty()) {
            callLogFd_ = ::open(options.callLog.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
            if (callLogFd_ < 0)
                throwText("Could not open the call log '" + options.callLog + "': " + errnoText(errno));
        }
        if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0)
            throwText("Could not create the frame service's control pipe: " + errnoText(errno));
    } catch (...) {
        for (int fd : listeners_)
            ::close(fd);
        if (!socketPath_.empty())
            ::unlink(socketPath_.c_str());
        if (callLogFd_ >= 0)
            ::close(callLogFd_);
        throw;
    }
}

SimFrames::~SimFrames() {
    if (acceptor_.joinable()) {
        const char stop = 1;
        if (::write(pipe_[1], &stop, 1) != 1)
            CO_ERROR("Could not stop the frame service: %s", errnoText(errno).c_str());
        acceptor_.join();
    }
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        for (Worker& w : workers_) {
            if (w.fd >= 0)
                ::shutdown(w.fd, SHUT_RDWR);  // ends its blocked read or write
            threads.push_back(std::move(w.thread));
        }
        workers_.clear();
    }
    for (std::thread& t : threads)
        t.join();
    for (int fd : listeners_)
        ::close(fd);
    if (!socketPath_.empty())
        ::unlink(socketPath_.c_str());
    for (int fd : pipe_)
        if (fd >= 0)
            ::close(fd);
    if (callLogFd_ >= 0)
        ::close(callLogFd_);
}

void SimFrames::listen(const SimOptions& options) {
    const int attempts = options.framePort == 0 ? kPortAttempts : 1;
    std::string error;
    for (int attempt = 0; attempt < attempts; ++attempt) {
        int port = options.framePort;
        bool retry = false;
        std::vector<int> fds;
        for (const std::string& address : options.addresses(true)) {
            int bound = 0;
            int err = 0;
            Corvane::TcpListenOptions listen;
            listen.reuseAddress = true;
            listen.backlog = kBacklog;
            const int fd = Corvane::listenTcpOn(address, port, listen, &bound, &err);
            if (fd >= 0) {
                fds.push_back(fd);
                port = bound;
                continue;
            }
            error =
                "Could not listen for frames on '" + address + "' port " + std::to_string(port) + ": " + errnoText(err);
            if (address == "::1" && err != EADDRINUSE) {
                CO_WARNING("%s", error.c_str());  // a host without IPv6
                continue;
            }
            retry = err == EADDRINUSE && options.framePort == 0;
            for (int f : fds)
                ::close(f);
            fds.clear();
            break;
        }
        if (!fds.empty()) {
            listeners_ = fds;
            listenerLocal_.assign(fds.size(), false);
            port_ = port;
            return;
        }
        if (!retry)
            break;
    }
    throwText(error);
}

void SimFrames::openLocalSocket(const std::string& path) {
    sockaddr_un addr;
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path)
        throwText("Socket file name '" + path + "' is too long");
    std::memcpy(addr.sun_path, path.c_str(), path.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throwText("Could not create a local socket: " + errnoText(errno));
    bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    if (!ok && errno == EADDRINUSE) {
        // A file left by a server that died: take it over when nobody
        // answers on it, never from a live one.
        const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool live = probe >= 0 && ::connect(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        if (probe >= 0)
            ::close(probe);
        if (!live && ::unlink(path.c_str()) == 0)
            ok = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        else
            errno = EADDRINUSE;
    }
    if (!ok || ::listen(fd, kBacklog) != 0) {
        const int err = errno;
        ::close(fd);
        throwText("Could not listen on the socket file '" + path + "': " + errnoText(err));
    }
    listeners_.push_back(fd);
    listenerLocal_.push_back(true);
    socketPath_ = path;
}

void SimFrames::start() {
    try {
        acceptor_ = std::thread(&SimFrames::acceptLoop, this);
    } catch (const std::system_error& e) {
        throwText(std::string("Could not start the frame service: ") + e.what());
    }
}

void SimFrames::acceptLoop() {
    std::vector<pollfd> fds;
    for (int fd : listeners_)
        fds.push_back(pollfd{fd, POLLIN, 0});
    fds.push_back(pollfd{pipe_[0], POLLIN, 0});
    for (;;) {
        for (pollfd& p : fds)
            p.revents = 0;
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            CO_ERROR("The frame service stops: %s", errnoText(errno).c_str());
            return;
        }
        if (fds.back().revents != 0)
            return;
        for (size_t i = 0; i + 1 < fds.size(); ++i)
            if (fds[i].revents & POLLIN)
                accept(fds[i].fd, listenerLocal_[i]);
    }
}

void SimFrames::reapLocked(std::vector<std::thread>* finished) {
    for (size_t i = 0; i < workers_.size();) {
        if (workers_[i].done->load()) {
            finished->push_back(std::move(workers_[i].thread));
            workers_.erase(workers_.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
            ++i;
        }
    }
}

void SimFrames::accept(int listenFd, bool local) {
    const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        if (errno != EAGAIN && errno != EINTR && errno != ECONNABORTED)
            CO_ERROR("Could not accept a frame connection: %s", errnoText(errno).c_str());
        return;
    }
    if (!local)
        setInt(fd, IPPROTO_TCP, TCP_NODELAY, 1);
    std::vector<std::thread> finished;
    bool refused = false;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        reapLocked(&finished);
        if (workers_.size() >= kMaxConnections) {
            refused = true;
        } else {
            auto done = std::make_shared<std::atomic<bool>>(false);
            try {
                workers_.push_back(Worker{std::thread(&SimFrames::serve, this, fd, local, done), fd, done});
            } catch (const std::system_error& e) {
                CO_ERROR("Could not serve a frame connection: %s", e.what());
                refused = true;
            }
        }
    }
    for (std::thread& t : finished)
        t.join();
    if (refused) {
        CO_WARNING("Refusing a frame connection: %zu are served already", kMaxConnections);
        ::close(fd);
    }
}

void SimFrames::serve(int fd, bool local, std::shared_ptr<std::atomic<bool>> done) {
    log(local ? "FrameConnection local" : "FrameConnection tcp");
    SimFrameConnection(*this, fd).run();
    {
        // Closed under the lock, so that the destructor never shuts down a
        // descriptor number that was given out again.
        std::lock_guard<std::mutex> guard(mutex_);
        for (Worker& w : workers_)
            if (w.done == done)
                w.fd = -1;
        ::close(fd);
    }
    done->store(true);
}

SimFrames::FramePtr SimFrames::find(const std::string& id) const {
    std::lock_guard<std::mutex> guard(mutex_);
    const auto it = frames_.find(id);
    return it == frames_.end() ? nullptr : it->second;
}

bool SimFrames::store(const std::string& id, FramePtr frame, std::string* error) {
    FramePtr old;  // released outside the lock
    std::lock_guard<std::mutex> guard(mutex_);
    const auto it = frames_.find(id);
    const int64_t replaced = it == frames_.end() ? 0 : static_cast<int64_t>(it->second->size);
    const int64_t after = storedBytes_ - replaced + static_cast<int64_t>(frame->size);
    if (after > kMaxStoredBytes) {
        *error = "No room for frame '" + id + "': the server keeps at most " + std::to_string(kMaxStoredBytes) +
                 " bytes of frames";
        return false;
    }
    storedBytes_ = after;
    if (it != frames_.end())
        old = std::move(it->second);
    frames_[id] = std::move(frame);
    return true;
}

void SimFrames::log(const std::string& line) {
    if (callLogFd_ < 0)
        return;
    std::string text;
    for (char c : line)
        text += c == '\n' ? std::string("\\n") : std::string(1, c);
    text += '\n';
    // One write per line: tests read the log while the server runs.
    if (::write(callLogFd_, text.data(), text.size()) < 0)
        CO_WARNING("Could not write the call log: %s", errnoText(errno).c_str());
}

}  // namespace CorvaneSim
