// The connection-information record a client sends as the argument of
// "_login" right after connecting: who it is (user, group, host, host UUID,
// process, address) as an attribute stream, protected by a CRC-32 checksum
// that the server verifies. Each record takes the next value of a
// process-wide serial counter when it is made. A record is a plain value
// used by one thread; the counter and the CRC table are safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Corvane {

class CoIoDescriptor;

class rcConnectionInfo {
public:
    // Defaults: names "undefined", address "0.0.0.0", no group or UUID, the
    // next serial.
    rcConnectionInfo();
    // Parses a received text, then verifies it. Missing keys keep their
    // defaults (and normally make the checksum fail).
    explicit rcConnectionInfo(const char* text);
    virtual ~rcConnectionInfo() = default;

    // Fills the record from this process: effective user, real group, host
    // name, host UUID, process name and id, and, when a descriptor is
    // given, its local address; then sets the checksum. Marks it valid.
    void fill(CoIoDescriptor* descriptor = nullptr);
    // Looks up now what fill() will need from the user database, so that a
    // caller can do it while it waits for something else.
    static void prepare();

    // The attribute-stream text that goes on the wire.
    std::string toString() const;
    // The CRC-32 chain over the covered fields.
    uint32_t checksum() const;
    // valid = (checksum() == crc); a mismatch is posted.
    bool verify();
    bool isValid() const { return valid_; }
    // Posts the record at notice level.
    void dump() const;

    // One step of the chain: continues the standard CRC-32 from crc over
    // len bytes, so that steps over pieces equal one CRC over their
    // concatenation; an empty piece resets the running value to 0.
    static uint32_t crc32(uint32_t crc, const void* bytes, size_t len);

    const std::string& userName() const { return userName_; }
    const std::string& groupName() const { return groupName_; }
    bool hasGroupName() const { return hasGroupName_; }
    const std::string& password() const { return password_; }
    const std::string& processName() const { return processName_; }
    int processId() const { return processId_; }
    const std::string& hostName() const { return hostName_; }
    const std::string& hostUUID() const { return hostUUID_; }
    bool hasHostUUID() const { return hasHostUUID_; }
    const std::string& ipAddr() const { return ipAddr_; }
    int serial() const { return serial_; }
    uint32_t crc() const { return crc_; }
    int timestamp() const { return timestamp_; }

    // Setters change the fields only; call setCrc(checksum()) to seal.
    void setUserName(const std::string& v) { userName_ = v; }
    void setGroupName(const std::string& v) {
        groupName_ = v;
        hasGroupName_ = true;
    }
    void setPassword(const std::string& v) { password_ = v; }
    void setProcessName(const std::string& v) { processName_ = v; }
    void setProcessId(int v) { processId_ = v; }
    void setHostName(const std::string& v) { hostName_ = v; }
    void setHostUUID(const std::string& v) {
        hostUUID_ = v;
        hasHostUUID_ = true;
    }
    void setIpAddr(const std::string& v) { ipAddr_ = v; }
    void setSerial(int v) { serial_ = v; }
    void setCrc(uint32_t v) { crc_ = v; }
    void setTimestamp(int v) { timestamp_ = v; }

private:
    void parse(const char* text);
    bool fillProcessName();

    bool valid_ = false;
    std::string userName_;
    std::string groupName_;
    bool hasGroupName_ = false;
    std::string password_;
    std::string processName_;
    int processId_ = 0;
    std::string hostName_;
    std::string hostUUID_;
    bool hasHostUUID_ = false;
    std::string ipAddr_;
    int serial_;
    uint32_t crc_ = 0;
    int timestamp_ = 0;
};

}  // namespace Corvane
