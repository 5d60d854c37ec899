// Internal to corvane_client.
// The rules of the discovery client's server list: how a received record is
// completed, which listed record a server identifier means, and whether a
// fresh record describes a server already listed. Pure functions over the
// records and a picture of this host that the caller takes, so that no
// lookup of the interfaces runs under the list's lock. Host names written
// with a leading letter are looked up (the only lookup here); thread-safe.
#pragma once

#include <string>
#include <vector>

class CorvaneDaemonInfo;
class CorvaneServerId;

// This host as the rules see it.
struct CorvaneThisHost {
    std::string uuid;                    // "" when none is configured or readable
    std::string name;                    // the host name
    std::vector<std::string> addresses;  // the interface addresses

    // A loopback name or an interface address.
    bool hasAddress(const std::string& address) const;
    // The same, or the host name: what a server record may call this host.
    bool knowsAs(const std::string& address) const;
    // By host identifier when both sides have one, else when every metadata
    // address of the record (up to the first empty one) is this host's; so
    // a record without addresses describes this host.
    bool describes(const CorvaneDaemonInfo& record) const;
};

// The identifier's host as corvaneMatchesId compares it: replaced by its
// address when it begins with a letter and resolves; not looked up when a
// storage identifier alone decides.
std::string corvaneHostToMatch(const CorvaneServerId& id);

// The storage identifier alone when the identifier has one; otherwise a
// port other than 0 must be the record's NodePort, a database the record's
// Database, and resolvedHost (from corvaneHostToMatch) one of its addresses
// or a loopback name while the record describes this host.
bool corvaneMatchesId(const CorvaneDaemonInfo& record, const CorvaneServerId& id, const std::string& resolvedHost,
                      const CorvaneThisHost& host);

// Whether fresh names the server of the listed record: equal storage
// identifiers when either has one; otherwise equal databases and then equal
// host identifiers when either has one, else an address of listed that is
// one of fresh's, or that names this host while fresh describes it.
bool corvaneSameServer(const CorvaneDaemonInfo& listed, const CorvaneDaemonInfo& fresh, const CorvaneThisHost& host);

// Completes a received record: the sender (when given) becomes an address
// unless listed; another host's loopback addresses go, since they would
// lead here; NodePort 0 and an empty Database get their defaults.
void corvaneNormaliseServer(CorvaneDaemonInfo& record, const char* senderAddress, const CorvaneThisHost& host);

// The addresses (frame addresses when frame is set) up to the first empty
// one, each followed by a blank, for messages.
std::string corvaneAddressText(const CorvaneDaemonInfo& record, bool frame);
