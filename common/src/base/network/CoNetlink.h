// Internal to corvane_base.
// Reading the kernel routing socket: the default IPv4 route's interface, and
// whether a notification datagram reports a topology change. Every parser
// checks each length against the bytes received, so a truncated or forged
// datagram is cut short, never read past. Stateless apart from a request
// counter; safe from any thread.
#pragma once

#include <cstddef>
#include <string>

namespace Corvane {

class CoLastErrLogger;

class CoNetlink {
public:
    static constexpr size_t kDumpBufferSize = 8192;
    static constexpr size_t kNotificationBufferSize = 4096;

    // The interface of the default IPv4 route of the main table, or "" when
    // there is none or the kernel could not be asked (errors go to logger).
    static std::string defaultGatewayInterface(const CoLastErrLogger& logger);

    // Result of reading one datagram of a route dump.
    enum class DumpStep { Continue, Found, Done, Invalid, Error };
    // Looks for the default route in one dump datagram. Found sets ifname;
    // Error sets err to the kernel's error number.
    static DumpStep scanRouteDump(const char* data, size_t size, std::string& ifname, int& err);

    // True when a notification datagram holds a link message or an IPv4
    // address addition with a local address.
    static bool isTopologyChange(const char* data, size_t size);

private:
    CoNetlink() = delete;
};

}  // namespace Corvane
