// The description of one running Corvane server: up to five addresses of
// each kind, ports, database, names, versions, product and identity. Servers
// send it as an attribute stream; the client keeps it to reach the server,
// to decide which methods the server has, and to tell which server an
// identifier means. A value type.
#pragma once

#include <cstdint>
#include <string>

#include "client/api/CorvaneStr.h"

class CorvaneServerId;

namespace Corvane {
class rcAttrStream;
}

class CorvaneDaemonInfo {
public:
    static constexpr int kMaxAddresses = 5;

    CorvaneDaemonInfo();
    explicit CorvaneDaemonInfo(const Corvane::rcAttrStream& stream);
    virtual ~CorvaneDaemonInfo() = default;

    // Replaces every field by what stream holds (missing keys: defaults).
    void read(const Corvane::rcAttrStream& stream);
    // Clears stream and writes the record into it.
    void write(Corvane::rcAttrStream& stream) const;

    // Empty above index 4.
    const char* getIP(int index) const;
    const char* getFrameIP(int index) const;
    // An index of 5 or more is not stored and posts a warning.
    void setIP(int index, const char* address);
    void setFrameIP(int index, const char* address);

    const char* getHostName() const { return hostName_.c_str(); }
    void setHostName(const char* v) { hostName_ = v; }
    const char* getDisplayName() const { return displayName_.c_str(); }
    void setDisplayName(const char* v) { displayName_ = v; }
    int getOSType() const { return osType_; }
    void setOSType(int v) { osType_ = v; }
    const char* getDatabase() const { return database_.c_str(); }
    void setDatabase(const char* v) { database_ = v; }
    int getNodePort() const { return nodePort_; }
    void setNodePort(int v) { nodePort_ = v; }
    int getFramePort() const { return framePort_; }
    void setFramePort(int v) { framePort_ = v; }
    int getVersionMajor() const { return versionMajor_; }
    void setVersionMajor(int v) { versionMajor_ = v; }
    int getVersionMinor() const { return versionMinor_; }
    void setVersionMinor(int v) { versionMinor_ = v; }
    int getVersionMaint() const { return versionMaint_; }
    void setVersionMaint(int v) { versionMaint_ = v; }
    int getVersionBuild() const { return versionBuild_; }
    void setVersionBuild(int v) { versionBuild_ = v; }
    const char* getProduct() const { return product_.c_str(); }
    void setProduct(const char* v) { product_ = v; }
    const char* getVendor() const { return vendor_.c_str(); }
    void setVendor(const char* v) { vendor_ = v; }
    int getProductVersionMajor() const { return productVersionMajor_; }
    void setProductVersionMajor(int v) { productVersionMajor_ = v; }
    int getProductVersionMinor() const { return productVersionMinor_; }
    void setProductVersionMinor(int v) { productVersionMinor_ = v; }
    int getProductVersionMaint() const { return productVersionMaint_; }
    void setProductVersionMaint(int v) { productVersionMaint_ = v; }
    int getProductBuild() const { return productBuild_; }
    void setProductBuild(int v) { productBuild_ = v; }
    const char* getProductVersionStr() const { return productVersionStr_.c_str(); }
    void setProductVersionStr(const char* v) { productVersionStr_ = v; }
    const char* getStorageId() const { return storageId_.c_str(); }
    void setStorageId(const char* v) { storageId_ = v; }
    const char* getHostUUID() const { return hostUUID_.c_str(); }
    void setHostUUID(const char* v) { hostUUID_ = v; }
    // Two numbers that travel with the record locally but never on the wire.
    int getUser1() const { return user1_; }
    void setUser1(int v) { user1_ = v; }
    int getUser2() const { return user2_; }
    void setUser2(int v) { user2_ = v; }

    // Microseconds since the epoch when the record was made or last touched.
    int64_t getTimestamp() const { return timestampUs_; }
    void touch();

    // Every field but the timestamp.
    bool operator==(const CorvaneDaemonInfo& other) const;
    bool operator!=(const CorvaneDaemonInfo& other) const { return !(*this == other); }
    // By display name, then database: the order of server lists.
    bool operator<(const CorvaneDaemonInfo& other) const;

    // Database, first address and node port, with the storage identifier.
    CorvaneServerId toServerId() const;
    // By host identifier when both are known, else by the addresses.
    bool isLocal() const;
    // Whether this record describes the server id names.
    bool matches(const CorvaneServerId& id) const;
    // The local socket file of the server's frame service.
    std::string getMsgQName() const;

private:
    CorvaneStr ip_[kMaxAddresses];
    CorvaneStr frameIP_[kMaxAddresses];
    CorvaneStr hostName_;
    CorvaneStr displayName_;
    int osType_ = 0;
    CorvaneStr database_;
    int nodePort_ = 0;
    int framePort_ = 0;
    int versionMajor_ = 0;
    int versionMinor_ = 0;
    int versionMaint_ = 0;
    int versionBuild_ = 0;
    CorvaneStr product_;
    CorvaneStr vendor_;
    int productVersionMajor_ = 0;
    int productVersionMinor_ = 0;
    int productVersionMaint_ = 0;
    int productBuild_ = 0;
    CorvaneStr productVersionStr_;
    CorvaneStr storageId_;
    CorvaneStr hostUUID_;
    int64_t timestampUs_ = 0;
    int user1_ = 0;
    int user2_ = 0;
};
