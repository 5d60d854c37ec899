#include "support/TempDir.h"

#include <dirent.h>
#include <ftw.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace CorvaneTest {

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/corvane-test-XXXXXX";
    if (!mkdtemp(&pattern[0]))
        throw std::runtime_error("mkdtemp failed for " + pattern);
    path_ = pattern;
}

TempDir::~TempDir() {
    nftw(
        path_.c_str(), [](const char* p, const struct stat*, int, struct FTW*) { return ::remove(p); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

std::string TempDir::file(const std::string& name) const { return path_ + "/" + name; }

std::string TempDir::write(const std::string& name, const std::string& bytes) const {
    const std::string full = file(name);
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    out << bytes;
    return full;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::set<int> openFds() {
    std::set<int> fds;
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return fds;
    const int own = dirfd(dir);
    while (dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.' && std::atoi(entry->d_name) != own)
            fds.insert(std::atoi(entry->d_name));
    closedir(dir);
    return fds;
}

int countOpenFds() { return static_cast<int>(openFds().size()); }

int connectionsTo(int port) {
    int count = 0;
    for (const int fd : openFds()) {
        // The port sits at the same place in both families' addresses.
        sockaddr_in6 peer{};
        socklen_t size = sizeof peer;
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) == 0 &&
            (peer.sin6_family == AF_INET || peer.sin6_family == AF_INET6) && ntohs(peer.sin6_port) == port)
            ++count;
    }
    return count;
}

}  // namespace CorvaneTest
