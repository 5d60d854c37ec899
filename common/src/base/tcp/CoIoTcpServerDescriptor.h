// A non-blocking listening TCP socket on a given port, on a port the system
// picks, or on the first free port of a range; IPv6 serving IPv4 too (dual
// stack) or IPv4 alone. Owns its socket; one thread uses it at a time.
#pragma once

#include <string>

#include "base/tcp/CoIoDescriptor.h"

namespace Corvane {

class CoIoTcpServerDescriptor : public CoIoDescriptor {
public:
    static constexpr int kDefaultPortMin = 49152;  // 0xC000
    static constexpr int kDefaultPortMax = 65535;

    CoIoTcpServerDescriptor();

    // Listens, choosing the families from the environment: IPv6 first unless
    // XQ_TCP_DISABLE_IPV6 is set, falling back to IPv4 when both are enabled.
    bool initPort(int port, int sendBuf = 0, int rcvBuf = 0, int portMin = -1, int portMax = -1);
    // Listens on one family. port > 0 binds that port; port -1 with both
    // limits -1 lets the system pick; otherwise a negative port scans
    // [portMin, portMax] (-1 limits mean 49152 and 65535), starting at -port
    // when port < -1. port 0 makes no socket and fails. fallback retries once
    // with the other family when this one is not available.
    bool initPort(int port, int sendBuf, int rcvBuf, int portMin, int portMax, bool ipv6, bool fallback);

    // The bound port; -1 when not listening.
    int getPort() const { return port_; }

private:
    // What bindSocket() makes: one socket of one family, bound to the first
    // free port of [firstPort, lastPort] when scanning, else to firstPort.
    struct BindRequest {
        int firstPort = 0;
        int lastPort = 0;
        bool scan = false;
        int sendBuf = 0;  // 0: the system's size
        int rcvBuf = 0;
        bool ipv6 = false;
        bool serveIpv4 = false;  // an IPv6 socket takes IPv4 traffic too
    };
    struct BindResult {
        int port = -1;            // -1: failed
        bool retryOther = false;  // the other family may work where this one cannot
        bool servesIpv4 = false;
    };
    // Makes, configures and binds one socket.
    BindResult bindSocket(const BindRequest& request);

    int port_ = -1;
};

// A socket listening on one numeric address and port (0: the system picks)
// with no-delay on, an IPv6 socket serving IPv6 only. For servers that bind
// chosen interfaces rather than every address. Returns the descriptor and
// sets *boundPort, or -1 with *err set (EINVAL for an unusable address).
struct TcpListenOptions {
    bool reuseAddress = false;
    bool nonBlocking = false;
    int backlog = 16;
};
int listenTcpOn(const std::string& address, int port, const TcpListenOptions& options, int* boundPort, int* err);

}  // namespace Corvane
