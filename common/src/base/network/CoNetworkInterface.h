// One address of a local network interface, as the interface dispatcher saw
// it: name, attributes, numeric address and netmask, and a preference weight.
// A plain value; an interface with several addresses gives several of them.
#pragma once

#include <string>

namespace Corvane {

class CoNetworkInterface {
public:
    // Bits of attributes(); Any is only a filter value.
    enum Attributes : int {
        None = 0,
        Loopback = 1,
        IPv4 = 2,
        IPv6 = 4,
        Multicast = 8,  // capable, and allowed by the configuration
        Gateway = 16,   // carries the default IPv4 route
        Any = -1,
    };

    static constexpr int kDefaultSpeed = 1000;
    static constexpr int kInfinibandSpeed = 10000;  // names starting "ib"

    CoNetworkInterface() = default;
    CoNetworkInterface(std::string name, int attributes, std::string address, std::string netmask, int speed);

    const std::string& name() const { return name_; }
    int attributes() const { return attributes_; }
    bool has(Attributes attribute) const { return (attributes_ & attribute) != 0; }
    const std::string& address() const { return address_; }
    const std::string& netmask() const { return netmask_; }
    int speed() const { return speed_; }

    bool operator==(const CoNetworkInterface& other) const;
    bool operator!=(const CoNetworkInterface& other) const { return !(*this == other); }

    // "loopback", "ipv4", "ipv6", "multicast", "any"; anything else gives 0.
    static int getAttributeFromStr(const char* attribute);
    // The name of one value ("none" for 0, "any" for -1), "" for others.
    static const char* getAttributeStr(int attribute);
    // Names of the set bits joined by "|"; "none" for 0, "any" for -1.
    static std::string getAttributesStr(int attributes);

    // "name address/netmask [attributes]", for messages.
    std::string toString() const;

private:
    std::string name_;
    int attributes_ = None;
    std::string address_;
    std::string netmask_;
    int speed_ = kDefaultSpeed;
};

}  // namespace Corvane
