#include "PrivateNetwork.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <net/route.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace CorvaneTest {

namespace {

bool writeText(const char* path, const std::string& text) {
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return ok;
}

// Without CAP_SYS_ADMIN the namespace needs a user namespace around it, in
// which this user keeps its own identifiers.
bool unshareAsUser() {
    const uid_t uid = ::getuid();
    const gid_t gid = ::getgid();
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0)
        return false;
    char map[64];
    std::snprintf(map, sizeof map, "%u %u 1\n", static_cast<unsigned>(uid), static_cast<unsigned>(uid));
    if (!writeText("/proc/self/setgroups", "deny") || !writeText("/proc/self/uid_map", map))
        return false;
    std::snprintf(map, sizeof map, "%u %u 1\n", static_cast<unsigned>(gid), static_cast<unsigned>(gid));
    return writeText("/proc/self/gid_map", map);
}

sockaddr_in ipv4(const char* text) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    ::inet_pton(AF_INET, text, &address.sin_addr);
    return address;
}

bool configureLoopback(int fd) {
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    if (::ioctl(fd, SIOCGIFFLAGS, &request) != 0)
        return false;
    request.ifr_flags |= IFF_UP | IFF_MULTICAST;
    if (::ioctl(fd, SIOCSIFFLAGS, &request) != 0)
        return false;

    rtentry route{};
    const sockaddr_in destination = ipv4("224.0.0.0");
    const sockaddr_in mask = ipv4("240.0.0.0");
    std::memcpy(&route.rt_dst, &destination, sizeof destination);
    std::memcpy(&route.rt_genmask, &mask, sizeof mask);
    route.rt_flags = RTF_UP;
    char device[] = "lo";
    route.rt_dev = device;
    return ::ioctl(fd, SIOCADDRT, &route) == 0 || errno == EEXIST;
}

// The check that matters: nothing but lo to send on.
bool onlyLoopback(std::string* error) {
    struct if_nameindex* names = ::if_nameindex();
    if (!names) {
        *error = std::string("could not list the interfaces: ") + std::strerror(errno);
        return false;
    }
    std::string others;
    for (const struct if_nameindex* name = names; name->if_index != 0; ++name)
        if (std::strcmp(name->if_name, "lo") != 0)
            others += std::string(" ") + name->if_name;
    ::if_freenameindex(names);
    if (!others.empty())
        *error = "the private network namespace has more than lo:" + others;
    return others.empty();
}

}  // namespace

bool enterPrivateNetwork(std::string* error) {
    if (::unshare(CLONE_NEWNET) != 0 && (errno != EPERM || !unshareAsUser())) {
        *error = std::string("could not make a private network namespace: ") + std::strerror(errno);
        return false;
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const bool ok = fd >= 0 && configureLoopback(fd);
    if (!ok)
        *error = std::string("could not set up lo in the private network namespace: ") + std::strerror(errno);
    if (fd >= 0)
        ::close(fd);
    return ok && onlyLoopback(error);
}

}  // namespace CorvaneTest
