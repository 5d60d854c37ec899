#include "support/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "support/Eventually.h"

namespace CorvaneTest {

namespace {

// Forks and execs argv with in, out and err as its standard streams. Exits the
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

// An anonymous file holding bytes, read from the start.
int memoryFile(const std::string& bytes) {
    const int fd = memfd_create("corvane-test", MFD_CLOEXEC);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        throw std::runtime_error("memfd_create failed");
    ::lseek(fd, 0, SEEK_SET);
    return fd;
}

std::string readAll(int fd) {
    std::string bytes;
    char buf[65536];
    ::lseek(fd, 0, SEEK_SET);
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;)
        bytes.append(buf, static_cast<size_t>(n));
    ::close(fd);
    return bytes;
}

}  // namespace

// The standard streams are files, not pipes: nothing waits on a child that
// reads no input, and a grandchild left holding them stalls nothing.
ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
    const int in = memoryFile(options.input), out = memoryFile(""), err = memoryFile("");
    const pid_t pid = spawn(argv, options, in, out, err);
    ::close(in);
    bool timedOut = false;
    const int status = waitForChild(pid, options.timeoutMs, &timedOut);
    ProcessResult result;
    result.out = readAll(out);
    result.err = readAll(err);
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.timedOut = timedOut;
    return result;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe2 failed");
    const int devnull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    pid_ = spawn(argv, options, devnull, out[1], 2);
    ::close(devnull);
    ::close(out[1]);
    outFd_ = out[0];
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

int waitForChild(pid_t pid, int timeoutMs, bool* timedOut) {
    int status = 0;
    pid_t done = 0;
    const auto reaped = [&] {
        done = waitpid(pid, &status, WNOHANG);
        return done == pid || (done < 0 && errno != EINTR);
    };
    if (eventually(reaped, timeoutMs))
        return done == pid ? status : -1;
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    if (timedOut)
        *timedOut = true;
    return status;
}

std::string binPath(const std::string& name) { return std::string(CORVANE_BIN_DIR) + "/" + name; }

std::string sourcePath(const std::string& relative) { return std::string(CORVANE_SOURCE_DIR) + "/" + relative; }

}  // namespace CorvaneTest
