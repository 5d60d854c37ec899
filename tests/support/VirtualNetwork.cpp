#include "support/VirtualNetwork.h"

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <sstream>

#include "support/Process.h"

namespace CorvaneTest {

namespace {

std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> out{"ip"};
    for (std::string word; in >> word;)
        out.push_back(word);
    return out;
}

bool runIp(const std::string& args, const std::function<void()>& beforeExec) {
    ProcessOptions options;
    options.env = currentEnvironment();
    options.timeoutMs = 10000;
    options.beforeExec = beforeExec;
    return runProcess(words(args), options).exitStatus == 0;
}

}  // namespace

VirtualHost::~VirtualHost() {
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
    if (holder_ > 0) {
        ::kill(holder_, SIGKILL);
        waitForChild(holder_);
    }
}

std::function<void()> VirtualHost::enter() const {
    const std::string path = "/proc/" + std::to_string(holder_) + "/ns/net";
    return [path] {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::setns(fd, CLONE_NEWNET) != 0)
            ::_exit(126);
        ::close(fd);
    };
}

bool VirtualHost::ip(const std::string& args) const { return runIp(args, enter()); }

bool VirtualNetwork::ip(const std::string& args) { return runIp(args, nullptr); }

VirtualNetwork::VirtualNetwork() {
    if (::geteuid() != 0) {
        error_ = "needs root to build namespaces and a bridge";
        return;
    }
    const std::string bridge = kBridge;
    // Snooping off: no querier runs here, and every host must hear the group.
    for (const std::string& command : {"link add " + bridge + " type bridge mcast_snooping 0",
                                       "addr add 10.77.0.1/24 dev " + bridge, "link set " + bridge + " up"})
        if (!ip(command)) {
            error_ = "could not set up the bridge (ip " + command + ")";
            return;
        }
}

VirtualNetwork::~VirtualNetwork() {
    hosts_.clear();  // their veth ends go with their namespaces
    if (error_.empty())
        ip(std::string("link del ") + kBridge);
}

VirtualHost* VirtualNetwork::addHost() {
    if (!error_.empty())
        return nullptr;
    int ready[2];
    int wake[2];
    if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(wake, O_CLOEXEC) != 0) {
        error_ = "pipe failed";
        return nullptr;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        char status = ::unshare(CLONE_NEWNET) == 0 ? 'y' : 'n';
        (void)!::write(ready[1], &status, 1);
        (void)!::read(wake[0], &status, 1);  // returns when the parent closes its end
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(wake[0]);
    char status = 'n';
    const bool unshared = pid > 0 && ::read(ready[0], &status, 1) == 1 && status == 'y';
    ::close(ready[0]);
    std::unique_ptr<VirtualHost> host(new VirtualHost);
    host->holder_ = pid;
    host->wakeFd_ = wake[1];
    const size_t index = hosts_.size();
    host->address_ = "10.77.0." + std::to_string(index + 2);
    // Never reused in this process: a killed holder's namespace, and the veth
    // end it takes along, goes away in the background.
    static int nextVeth = 0;
    const std::string veth = "cvh" + std::to_string(nextVeth++);
    bool ok = unshared && ip("link add " + veth + " type veth peer name eth0 netns " + std::to_string(pid)) &&
              ip("link set " + veth + " master " + kBridge + " up");
    for (const std::string& command :
         std::vector<std::string>{"link set lo up", "addr add " + host->address_ + "/24 dev eth0", "link set eth0 up",
                                  "route add 224.0.0.0/4 dev eth0"})
        ok = ok && host->ip(command);
    if (!ok) {
        error_ = "could not add host " + host->address_;
        return nullptr;
    }
    hosts_.push_back(std::move(host));
    return hosts_.back().get();
}

}  // namespace CorvaneTest
