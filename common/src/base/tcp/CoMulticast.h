// A UDP socket tied to one multicast group and port, IPv4 or IPv6 after the
// group's family, optionally pinned to one local interface address. Owns its
// descriptor and closes it on destruction (which also leaves the group).
// Every failure throws CoException: the text is the system error text and a
// full stop, the detail names the operation; the object stays usable. It has
// no lock: one thread at a time, the owner serialises sends and receives.
#pragma once

#include <memory>
#include <string>
#include <vector>

struct sockaddr;          // by pointer only; <sys/socket.h> stays in the .cpp
struct sockaddr_storage;  // the resolved group

namespace Corvane {

class CoMulticast {
public:
    // A destination of an earlier send, as the kernel reported it.
    struct Endpoint {
        std::string address;
        unsigned int port;
    };

    static constexpr unsigned int kEphemeralPortMin = 49152;
    static constexpr unsigned int kEphemeralPortMax = 65535;

    // Null texts are taken as "". Resolves group and creates the socket.
    CoMulticast(unsigned int port, const char* group, const char* interface);
    ~CoMulticast();
    CoMulticast(const CoMulticast&) = delete;
    CoMulticast& operator=(const CoMulticast&) = delete;

    // Not ephemeral: the group port on every address, shared through address
    // reuse. Ephemeral: the first free port from kEphemeralPortMin up on the
    // interface address, where unicast replies to our datagrams arrive. With
    // an interface, it also becomes the outgoing multicast interface.
    // A group-port socket also learns where each datagram was sent (see
    // receive), an ephemeral one which destinations refused its datagrams
    // (see takeUnreachable); both best effort, never a failure.
    void bind(bool ephemeral);
    // Membership on the interface, or on the system's choice when "".
    void join();
    void leave();

    void setTimeToLive(unsigned char ttl);
    unsigned char getTimeToLive() const;
    void setLoopback(unsigned char loop);
    bool getLoopback() const;

    // address null means the group, port 0 the socket's port.
    void send(const void* data, int length, const char* address = nullptr, unsigned int port = 0);
    void sendTo(const void* data, int length, const sockaddr* destination);
    // length is the buffer size on entry and the byte count on return; a
    // longer datagram is cut. Nothing waiting (without blocking), a signal or
    // a reset give 0. source, when not null, needs room for an address of
    // the socket's family (a sockaddr_storage always has it). destination,
    // when not null, receives the address the datagram was sent to (the
    // group, or this host's own for a unicast); "" when the socket does not
    // know it. On an ephemeral-bound socket a refusal reported for an
    // earlier send also gives 0: takeUnreachable() tells what it was.
    void receive(void* buffer, int& length, sockaddr* source, bool blocking, std::string* destination = nullptr);

    // The destinations that refused earlier datagrams of an ephemeral-bound
    // socket because nothing listens on their port, oldest first. Empties
    // the socket's error queue, whose other reports are dropped: a queued
    // report keeps the socket readable. Never throws.
    std::vector<Endpoint> takeUnreachable();
    // The local port after a bind; 0 before.
    unsigned int getBoundPort() const;

    // Numeric text and host-order port of an IPv4 or IPv6 address; "" and 0
    // for another family.
    static void getAddressText(const sockaddr* address, std::string& text, unsigned& port);

    const std::string& getGroup() const { return group_; }
    const std::string& getInterface() const { return interface_; }
    unsigned int getPort() const { return port_; }
    int getDescriptor() const { return descriptor_; }
    bool isIPv6() const;

private:
    // The index of the up, non-loopback interface holding interface_ (IPv6);
    // 0 when none does.
    unsigned int interfaceIndex() const;
    int level() const;
    // setsockopt's result for adding or dropping the group membership.
    int changeMembership(bool add);

    std::string group_;
    std::unique_ptr<sockaddr_storage> groupAddress_;
    std::string interface_;
    int descriptor_;
    unsigned int port_;
    bool reportsUnreachable_ = false;  // the error queue is on (ephemeral bind)
};

}  // namespace Corvane
