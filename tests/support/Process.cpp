#include "support/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "base/time/CoClock.h"

namespace CorvaneTest {

namespace {

struct Pipe {
    int fds[2] = {-1, -1};
    Pipe() {
        if (pipe2(fds, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe2 failed");
    }
    ~Pipe() {
        closeEnd(0);
        closeEnd(1);
    }
    void closeEnd(int i) {
        if (fds[i] >= 0)
            ::close(fds[i]);
        fds[i] = -1;
    }
};

// Forks and execs argv with the pipes as its standard streams. Exits the
// child with 127 when exec fails.
pid_t spawn(const std::vector<std::string>& argv, const ProcessOptions& options, int in, int out, int err) {
    std::vector<std::string> envText;
    for (const auto& kv : options.env)
        envText.push_back(kv.first + "=" + kv.second);
    std::vector<char*> args, env;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (auto& e : envText)
        env.push_back(&e[0]);
    env.push_back(nullptr);

    const pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0)
            _exit(126);
        if (options.beforeExec)
            options.beforeExec();
        execvpe(args[0], args.data(), env.data());
        _exit(127);
    }
    return pid;
}

}  // namespace

ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
    // A child that exits without reading its input must not kill the test
    // with SIGPIPE; the write then fails with EPIPE instead. Only then:
    // other tests prove that the code under test never raises SIGPIPE.
    if (!options.input.empty()) {
        static const bool ignored = [] { return signal(SIGPIPE, SIG_IGN) != SIG_ERR; }();
        (void)ignored;
    }
    Pipe in, out, err;
    const pid_t pid = spawn(argv, options, in.fds[0], out.fds[1], err.fds[1]);
    in.closeEnd(0);
    out.closeEnd(1);
    err.closeEnd(1);
    fcntl(in.fds[1], F_SETFL, O_NONBLOCK);

    ProcessResult result;
    size_t written = 0;
    if (options.input.empty())
        in.closeEnd(1);
    const int64_t deadline = Corvane::CoClock::monotonicMs() + options.timeoutMs;
    while (out.fds[0] >= 0 || err.fds[0] >= 0) {
        const int64_t left = deadline - Corvane::CoClock::monotonicMs();
        if (left <= 0) {
            result.timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        pollfd fds[3];
        int n = 0;
        Pipe* owners[3];
        int ends[3];
        auto add = [&](Pipe& p, int end, short events) {
            if (p.fds[end] < 0)
                return;
            fds[n] = {p.fds[end], events, 0};
            owners[n] = &p;
            ends[n] = end;
            ++n;
        };
        add(out, 0, POLLIN);
        add(err, 0, POLLIN);
        add(in, 1, POLLOUT);
        if (poll(fds, static_cast<nfds_t>(n), static_cast<int>(left)) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < n; ++i) {
            if (!fds[i].revents)
                continue;
            if (owners[i] == &in) {
                const ssize_t w = ::write(in.fds[1], options.input.data() + written, options.input.size() - written);
                if (w > 0)
                    written += static_cast<size_t>(w);
                if (w < 0 && errno != EAGAIN)
                    in.closeEnd(1);
                if (written == options.input.size())
                    in.closeEnd(1);
                continue;
            }
            char buf[65536];
            const ssize_t r = ::read(fds[i].fd, buf, sizeof buf);
            if (r > 0)
                (owners[i] == &out ? result.out : result.err).append(buf, static_cast<size_t>(r));
            else if (r == 0 || errno != EINTR)
                owners[i]->closeEnd(ends[i]);
        }
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
    Pipe out;
    const int devnull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    pid_ = spawn(argv, options, devnull, out.fds[1], 2);
    ::close(devnull);
    outFd_ = out.fds[0];
    out.fds[0] = -1;
    out_ = LineReader(outFd_);
}

ChildProcess::~ChildProcess() {
    stop();
    if (outFd_ >= 0)
        ::close(outFd_);
}

std::string ChildProcess::readLine(int timeoutMs) {
    if (outFd_ < 0)
        return std::string();
    std::string line;
    const LineReader::Result result = out_.readLine(&line, timeoutMs);
    if (result == LineReader::Result::Closed) {
        ::close(outFd_);
        outFd_ = -1;
    }
    return result == LineReader::Result::Line ? line : std::string();
}

int ChildProcess::stop(int timeoutMs) {
    if (pid_ <= 0)
        return -1;
    kill(pid_, SIGTERM);
    const int status = waitForChild(pid_, timeoutMs);
    pid_ = -1;
    return status;
}

std::map<std::string, std::string> currentEnvironment() {
    std::map<std::string, std::string> env;
    for (char** entry = environ; *entry; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        if (equals)
            env[std::string(*entry, static_cast<size_t>(equals - *entry))] = equals + 1;
    }
    return env;
}

int runInChild(const std::function<int()>& body, int timeoutMs) {
    std::fflush(stdout);  // or the child writes what this process buffered too
    const pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        const int status = body();
        std::fflush(stdout);
        _exit(status);
    }
    const int status = waitForChild(pid, timeoutMs);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int waitForChild(pid_t pid, int timeoutMs) {
    const int64_t deadline = Corvane::CoClock::monotonicMs() + timeoutMs;
    int status = 0;
    while (Corvane::CoClock::monotonicMs() < deadline) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return status;
        if (done < 0 && errno != EINTR)
            return -1;
        poll(nullptr, 0, 10);  // paces the reaping; orders nothing
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return status;
}

std::string binPath(const std::string& name) { return std::string(CORVANE_BIN_DIR) + "/" + name; }

std::string sourcePath(const std::string& relative) { return std::string(CORVANE_SOURCE_DIR) + "/" + relative; }

}  // namespace CorvaneTest
