// For the benchmarks that need a server: a scratch directory (in memory,
// under /dev/shm, unless TMPDIR says otherwise), and a corvane-sim started
// from beside this program on a free loopback port, stopped on destruction.
// Run the benchmarks through bench/frames_events.sh, which keeps the
// client's server discovery inside a private network namespace.
#pragma once

#include <fcntl.h>
#include <ftw.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace CorvaneBench {

class ScratchDir {
public:
    ScratchDir() {
        const char* base = std::getenv("TMPDIR");
        path_ = std::string(base && *base ? base : "/dev/shm") + "/corvane-bench-XXXXXX";
        if (!::mkdtemp(&path_[0]))
            throw std::runtime_error("mkdtemp failed for " + path_);
    }
    ~ScratchDir() {
        ::nftw(
            path_.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return ::remove(p); }, 16,
            FTW_DEPTH | FTW_PHYS);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

class BenchSim {
public:
    // options: beyond --port 0, --no-discovery and --tree.
    BenchSim(const std::string& treeFile, std::vector<std::string> options) {
        char self[4096];
        const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
        std::string dir = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string("./x");
        dir.erase(dir.rfind('/'));
        std::vector<std::string> args{dir + "/corvane-sim", "--port", "0", "--no-discovery", "--tree", treeFile};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        const int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        std::string line;
        char c = 0;
        while (rc == 0 && ::read(out[0], &c, 1) == 1 && c != '\n')
            line += c;
        ::close(out[0]);
        port_ = std::atoi(line.c_str());
        if (rc != 0 || port_ <= 0)
            throw std::runtime_error("corvane-sim did not start: " + args[0]);
    }
    ~BenchSim() {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
    }
    BenchSim(const BenchSim&) = delete;
    BenchSim& operator=(const BenchSim&) = delete;

    std::string host() const { return "127.0.0.1:" + std::to_string(port_); }

private:
    pid_t pid_ = -1;
    int port_ = 0;
};

inline std::string writeTree(const ScratchDir& dir) {
    const std::string path = dir.file("tree.txt");
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f)
        throw std::runtime_error("cannot write " + path);
    std::fputs("node / FOLDER Root\nnode /media FOLDER Media\nnode /media/clip CLIP Clip\n", f);
    std::fclose(f);
    return path;
}

}  // namespace CorvaneBench
