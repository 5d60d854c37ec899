// Internal to corvane_client.
// What a server handle knows of its server: the identifier and the last
// error. Operations that need the server fail until the connection layer is
// in place; every caller already reports lastError, so that is safe.
#pragma once

#include <string>

class CorvaneServerImp {
public:
    explicit CorvaneServerImp(const char* serverId) : serverId_(serverId ? serverId : "") {}

    // Sets the last error to the reason the server can not be reached.
    bool connect();
    bool cancel(const char*) { return true; }
    const char* lastError() const { return lastError_.c_str(); }
    const std::string& serverId() const { return serverId_; }

private:
    std::string serverId_;
    std::string lastError_;
};
