#include "base/network/CoNetworkInterface.h"

#include <cassert>
#include <cstring>
#include <utility>

namespace Corvane {

namespace {

struct AttributeName {
    int value;
    const char* name;
};

// Single bits in the order a set is written.
constexpr AttributeName kBitNames[] = {
    {CoNetworkInterface::Loopback, "loopback"}, {CoNetworkInterface::IPv4, "ipv4"},
    {CoNetworkInterface::IPv6, "ipv6"},         {CoNetworkInterface::Multicast, "multicast"},
    {CoNetworkInterface::Gateway, "gateway"},
};

}  // namespace

CoNetworkInterface::CoNetworkInterface(std::string name, int attributes, std::string address, std::string netmask,
                                       int speed)
    : name_(std::move(name)),
      attributes_(attributes),
      address_(std::move(address)),
      netmask_(std::move(netmask)),
      speed_(speed) {}

bool CoNetworkInterface::operator==(const CoNetworkInterface& other) const {
    return name_ == other.name_ && attributes_ == other.attributes_ && address_ == other.address_ &&
           netmask_ == other.netmask_ && speed_ == other.speed_;
}

int CoNetworkInterface::getAttributeFromStr(const char* attribute) {
    assert(attribute && "attribute");
    // "gateway" is not a filter word: it is known only after listing.
    static const AttributeName kParsed[] = {
        {Loopback, "loopback"}, {IPv4, "ipv4"}, {IPv6, "ipv6"}, {Multicast, "multicast"}, {Any, "any"},
    };
    for (const AttributeName& entry : kParsed)
        if (std::strcmp(attribute, entry.name) == 0)
            return entry.value;
    return None;
}

const char* CoNetworkInterface::getAttributeStr(int attribute) {
    if (attribute == None)
        return "none";
    if (attribute == Any)
        return "any";
    for (const AttributeName& entry : kBitNames)
        if (attribute == entry.value)
            return entry.name;
    return "";
}

std::string CoNetworkInterface::getAttributesStr(int attributes) {
    if (attributes == None || attributes == Any)
        return getAttributeStr(attributes);
    std::string text;
    for (const AttributeName& entry : kBitNames) {
        if (!(attributes & entry.value))
            continue;
        if (!text.empty())
            text += '|';
        text += entry.name;
    }
    return text;
}

std::string CoNetworkInterface::toString() const {
    return name_ + " " + address_ + "/" + netmask_ + " [" + getAttributesStr(attributes_) + "]";
}

}  // namespace Corvane
