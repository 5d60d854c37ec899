// Names one Corvane server: by host and port ("srv:7549"), by host and
// database ("srv:OBRAN"), or by host alone, plus an optional storage
// identifier. A value type; the text form is cached until a part changes.
#pragma once

#include "client/api/CorvaneStr.h"

class CorvaneServerId {
public:
    CorvaneServerId() = default;
    // "host", "host:port" (a non-zero leading number) or "host:database".
    CorvaneServerId(const char* text);  // NOLINT: server identifiers are written as text
    CorvaneServerId(const char* database, const char* host, int port);
    CorvaneServerId(int port, const char* host);
    virtual ~CorvaneServerId() = default;

    const char* getHost() const { return host_.c_str(); }
    const char* getDatabase() const { return database_.c_str(); }
    const char* getStorageId() const { return storageId_.c_str(); }
    int getPort() const { return port_; }
    void setHost(const char* host);
    void setDatabase(const char* database);
    void setPort(int port);
    void setStorageId(const char* storageId) { storageId_ = storageId; }

    // host:database, else host:port; built once and cached.
    const char* getStr() const;
    bool isValid() const;
    // The cached text form is not compared.
    bool operator==(const CorvaneServerId& other) const;
    bool operator!=(const CorvaneServerId& other) const { return !(*this == other); }

private:
    mutable CorvaneStr string_;
    CorvaneStr host_;
    CorvaneStr database_;
    CorvaneStr storageId_;
    int port_ = 0;
};
