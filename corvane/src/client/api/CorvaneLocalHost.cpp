#include "client/api/CorvaneLocalHost.h"

#include <vector>

#include "base/network/CoNetwork.h"
#include "base/network/CoNetworkDispatcher.h"
#include "base/network/CoNetworkInterface.h"
#include "client/api/CorvaneHostFacts.h"

bool corvaneLocalHostUUID(std::string* uuid) {
    std::string text;
    if (!Corvane::CoNetwork::getLocalUUID(text) || text.empty())
        return false;
    *uuid = text;
    return true;
}

bool corvaneIsLocalAddress(const char* address) {
    if (!address)
        return false;
    if (isLocalHost(address))
        return true;
    // A fresh listing: the question is rare, and a stale list would answer wrong.
    Corvane::CoNetworkDispatcher dispatcher(false);
    std::vector<Corvane::CoNetworkInterface> interfaces;
    if (!dispatcher.getInterfaces(interfaces, Corvane::CoNetworkDispatcher::Type::All))
        return false;
    for (const Corvane::CoNetworkInterface& interface : interfaces)
        if (interface.address() == address)
            return true;
    return false;
}
