// Internal to corvane_client.
// Something that can tell a server's description and be told it is stale.
#pragma once

class CorvaneDaemonInfo;

class CorvaneDaemonInfoMgr {
public:
    virtual ~CorvaneDaemonInfoMgr() = default;
    // The next read asks the server again.
    virtual void invalidate() = 0;
    // Null when the server can not tell; lastError() says why.
    virtual const CorvaneDaemonInfo* getDaemonInfo() = 0;
    virtual const char* lastError() const = 0;
};
