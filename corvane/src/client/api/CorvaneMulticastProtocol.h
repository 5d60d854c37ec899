// The texts of server discovery: the request datagrams that servers and
// clients multicast or unicast to each other, and the server list that a
// server returns when asked for every server it knows. Both are attribute
// streams. A request holds "Version", "Type" and "Data", the last being the
// text of a second stream (a daemon record, or what a search narrows to).
// A server list holds "Count" and "Node0".."Node<Count-1>", each a daemon
// record. Pure encoding: no sockets, no state, safe from any thread.
// Malformed input is never thrown at the caller: a request is refused with
// an error message, a server list entry is skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>

#include "client/api/CorvaneDaemonInfo.h"

namespace Corvane {
class rcAttrStream;
}

namespace CorvaneMulticastProtocol {

// The value of "Type". Only 70..75 are accepted on the wire.
enum class RequestType : int32_t {
    Invalid = 0,
    StartOfServices = 70,
    DiscoverServers = 71,       // a server announcing itself
    DiscoverServersReply = 72,  // a server answering a search
    RemoveServer = 73,          // a server withdrawing
    FindServers = 74,           // a search; the payload narrows it
    EndOfServices = 75,
};

// The longest datagram a receiver reads; the bytes past it are lost, so a
// longer request arrives cut and is refused.
constexpr size_t kMaxDatagramBytes = 1024;
// NodePort given to a listed server that has none.
constexpr int kDefaultNodePort = 7549;

using ServerList = std::list<CorvaneDaemonInfo>;

// The datagram text (no terminator) with "Version" 1, the type and the
// payload's text as "Data".
std::string encodeRequest(RequestType type, const Corvane::rcAttrStream& payload);

// Parses a received datagram (a null text counts as empty). On success sets
// type and loads payload from "Data", read from its start. On failure posts
// the reason as an error and leaves payload untouched; type is set only
// when the failure is the missing "Data".
bool decodeRequest(const char* text, RequestType& type, Corvane::rcAttrStream& payload);

// "Count" and one node entry per record, in list order.
std::string encodeServerList(const ServerList& servers);

// Appends the records of a server list to out, each with NodePort 7549
// when it had none. A non-null, non-empty database keeps only the records
// of that database. A missing node entry is posted as an error and skipped.
void decodeServerList(const std::string& text, ServerList& out, const char* database = nullptr);

// The name printed in logs: "DISCOVER_SERVERS", ..., "INVALID" for 0 and
// "UNKNOWN" for anything outside the table.
const char* requestTypeName(RequestType type);

}  // namespace CorvaneMulticastProtocol
