// An outgoing TCP connection made with a non-blocking connect and a time-out,
// or an accepted one, plus the host-name lookups of the process. Owns its
// socket like every CoIoDescriptor: one thread uses it at a time and any
// thread may call cancel(). The static lookups are safe from any thread.
#pragma once

#include <string>

#include "base/tcp/CoIoDescriptor.h"

struct sockaddr;  // by pointer only; <sys/socket.h> stays in the .cpp

namespace Corvane {

class CoIoTcpDescriptor : public CoIoDescriptor {
public:
    // Not connected yet: see connectTo().
    CoIoTcpDescriptor();
    // Takes ownership of an already connected socket (an accepted client).
    explicit CoIoTcpDescriptor(int fd);
    // Connects to remoteHost (a numeric address or a name) within
    // connectionTimeout seconds. Never throws: a failed connection leaves
    // lastError() set (the socket stays open, non-blocking). Buffer sizes of
    // 0 keep the system's.
    CoIoTcpDescriptor(const char* remoteHost, int port, int sendBufSize, int rcvBufSize, int connectionTimeout);

    // The same connect for a descriptor made without one, so that another
    // thread can end it: a cancel() made before or during it fails it with
    // the ECONNABORTED text. The name lookup itself (numeric addresses skip
    // it) cannot be interrupted; a cancel during it acts once it returns.
    // True when connected.
    bool connectTo(const char* remoteHost, int port, int sendBufSize, int rcvBufSize, int connectionTimeout);

    bool setNoDelay(bool on);
    bool setNonBlocking(bool on);

    bool getSocketIP(std::string& ip) override;
    bool getPeerIP(std::string& ip) override;
    // Numeric host text of addr.
    bool getSocketIP(const sockaddr* addr, int addrLen, std::string& ip);

    // Lookups through the system resolver. These throw CoException with the
    // resolver's (or the system's) text on failure.
    // The name of a numeric address; shortName cuts it like getLocalHostName().
    static std::string getHostNameFromIpAddr(const char* ipAddr, bool shortName);
    // The numeric address text of the first address of hostName.
    static std::string getIpAddrFromHostName(const char* hostName);
    // This host's name, without its domain unless that is ".local...".
    static std::string getLocalHostName();
    // The address of this host's name, looked up at most once a minute.
    static std::string getLocalHostIpAddr();

    // The same lookups without exceptions: false, and a debug message.
    static bool getHostNameFromIpAddr(const char* ipAddr, bool shortName, std::string& name);
    static bool getIpAddrFromHostName(const char* hostName, std::string& ipAddr);
    static bool getLocalHostName(std::string& name);
    static bool getLocalHostIpAddr(std::string& ipAddr);

    // "box.example.com" -> "box"; "box.local" and "box.localdomain" stay whole.
    static std::string shortenHostName(const std::string& name);

private:
    // Waits for a non-blocking connect to finish and reads its outcome.
    bool finishConnect(const char* remoteHost, int port, int timeoutMs);
};

}  // namespace Corvane
