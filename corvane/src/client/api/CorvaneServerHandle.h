// Public handle on one Corvane server, named by a server identifier text.
// Makes no connection until an operation needs one. Used by one thread at a
// time, except cancel(), which another thread may call during an operation.
#pragma once

#include <memory>

class CorvaneServerImp;

class CorvaneServerHandle {
public:
    explicit CorvaneServerHandle(const char* serverId);
    virtual ~CorvaneServerHandle();
    CorvaneServerHandle(const CorvaneServerHandle&) = delete;
    CorvaneServerHandle& operator=(const CorvaneServerHandle&) = delete;

    // Stops the command in progress on this server's connections.
    bool cancel(const char* reason = "");
    // Never null.
    const char* lastError() const;

    // The handle that default-built node handles belong to.
    static CorvaneServerHandle& defaultServer();

    CorvaneServerImp* imp() const { return imp_.get(); }

private:
    std::unique_ptr<CorvaneServerImp> imp_;
};
