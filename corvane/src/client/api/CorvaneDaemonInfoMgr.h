// Internal to corvane_client.
// Something that can tell a server's description and be told it is stale.
#pragma once

class CorvaneDaemonInfo;

class CorvaneDaemonInfoMgr {
public:
    virtual ~CorvaneDaemonInfoMgr() = default;
    // The next read asks the server again.
    virtual void invalidate() = 0;
    // Copies the server's description into info; false when the server can
    // not tell, with the reason in lastError().
    virtual bool getDaemonInfo(CorvaneDaemonInfo& info) = 0;
    virtual const char* lastError() const = 0;
};
