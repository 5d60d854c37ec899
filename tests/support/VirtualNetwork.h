// Machines on one Ethernet segment, for tests of discovery between hosts:
// a bridge in this process's own private namespace (which takes part as the
// first host, 10.77.0.1) and further hosts, each a network namespace of its
// own joined to the bridge by a veth pair and addressed 10.77.0.2 and up.
// Everything disappears with the object. Needs root and iproute2.
#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace CorvaneTest {

class VirtualHost {
public:
    VirtualHost(const VirtualHost&) = delete;
    VirtualHost& operator=(const VirtualHost&) = delete;
    ~VirtualHost();

    // The address on the segment, "10.77.0.N".
    const std::string& address() const { return address_; }
    // For ProcessOptions::beforeExec: moves the child into this host.
    std::function<void()> enter() const;
    // Runs "ip ARGS..." inside the host; false when it fails.
    bool ip(const std::string& args) const;

private:
    friend class VirtualNetwork;
    VirtualHost() = default;

    pid_t holder_ = -1;  // keeps the namespace alive until killed
    int wakeFd_ = -1;    // closing it ends the holder
    std::string address_;
};

class VirtualNetwork {
public:
    static constexpr const char* kBridge = "cvbr0";

    VirtualNetwork();
    ~VirtualNetwork();
    VirtualNetwork(const VirtualNetwork&) = delete;
    VirtualNetwork& operator=(const VirtualNetwork&) = delete;

    // Empty when the bridge is up; otherwise why not (the test skips).
    const std::string& error() const { return error_; }
    // A new host on the segment; null with error() set on failure.
    VirtualHost* addHost();

    // "ip ARGS..." in this process's namespace.
    static bool ip(const std::string& args);

private:
    std::string error_;
    std::vector<std::unique_ptr<VirtualHost>> hosts_;
};

}  // namespace CorvaneTest
