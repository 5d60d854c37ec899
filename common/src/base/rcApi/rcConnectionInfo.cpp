#include "base/rcApi/rcConnectionInfo.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>

#include "base/loggerBase/CoMsg.h"
#include "base/network/CoNetworkConfig.h"
#include "base/osal/CoHostName.h"
#include "base/osal/CoUser.h"
#include "base/rcApi/rcAttrStream.h"
#include "base/tcp/CoIoDescriptor.h"
#include "base/threads/CoLockGuard.h"
#include "base/threads/CoMutex.h"
#include "base/time/CoClock.h"

namespace Corvane {

namespace {

constexpr const char* kUndefined = "undefined";
constexpr size_t kHostNameBytes = 128;
constexpr const char* kUserKey = "StrUserName";
constexpr const char* kGroupKey = "StrGroupName";
constexpr const char* kUuidKey = "StrHostUUID";
constexpr const char* kPasswordKey = "StrPassword";
constexpr const char* kProcessNameKey = "StrProcessName";
constexpr const char* kProcessIdKey = "IntProcessId";
constexpr const char* kHostNameKey = "StrHostName";
constexpr const char* kIpAddrKey = "StrIpAddr";
constexpr const char* kSerialKey = "IntSerial";
constexpr const char* kTimestampKey = "IntTimestamp";
constexpr const char* kCrcKey = "IntCRC";

std::atomic<int> gNextSerial{0};

// The first look-up of a name opens the user database, a good part of a
// short process's connect. Names rarely change; they are kept a while.
constexpr int64_t kNamesKeptForMs = 30 * 1000;

struct Names {
    bool hasUser = false;
    std::string user;
    bool hasGroup = false;
    gid_t gid = 0;
    std::string group;
    int64_t atMs = 0;
};

CoMutex& namesMutex() {
    static CoMutex* const mutex = new CoMutex;
    return *mutex;
}

// The effective user name at start and the current real group's name.
Names currentNames() {
    const gid_t gid = ::getgid();
    const int64_t nowMs = CoClock::monotonicMs();
    static Names* const kept = new Names;  // guarded by namesMutex()
    {
        CoLockGuard guard(namesMutex());
        if (kept->hasUser && kept->hasGroup && kept->gid == gid && nowMs - kept->atMs < kNamesKeptForMs)
            return *kept;
    }
    Names names;
    names.hasUser = CoUser::effectiveUserName(&names.user);
    names.hasGroup = CoUser::realGroupName(&names.group);
    names.gid = gid;
    names.atMs = nowMs;
    CoLockGuard guard(namesMutex());
    *kept = names;
    return names;
}

// The reflected CRC-32 table (polynomial 0xEDB88320), built once; a
// function-local static is initialised once even when threads race.
const std::array<uint32_t, 256>& crcTable() {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    return table;
}

uint32_t crcOfString(uint32_t crc, const std::string& s) { return rcConnectionInfo::crc32(crc, s.data(), s.size()); }

uint32_t crcOfInt(uint32_t crc, int value) {
    const uint32_t v = static_cast<uint32_t>(value);
    const unsigned char bytes[4] = {static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                                    static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)};
    return rcConnectionInfo::crc32(crc, bytes, sizeof bytes);
}

std::string baseName(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    if (p.empty())
        return ".";
    const size_t slash = p.rfind('/');
    return slash == std::string::npos || p.size() == 1 ? p : p.substr(slash + 1);
}

}  // namespace

uint32_t rcConnectionInfo::crc32(uint32_t crc, const void* bytes, size_t len) {
    if (len == 0)
        return 0;
    const std::array<uint32_t, 256>& table = crcTable();
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    uint32_t c = crc ^ 0xFFFFFFFFu;
    for (size_t i = 0; i < len; ++i)
        c = table[(c ^ p[i]) & 0xFFu] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

rcConnectionInfo::rcConnectionInfo()
    : userName_(kUndefined),
      groupName_(kUndefined),
      processName_(kUndefined),
      hostName_(kUndefined),
      hostUUID_(kUndefined),
      ipAddr_("0.0.0.0"),
      serial_(gNextSerial.fetch_add(1)) {}

rcConnectionInfo::rcConnectionInfo(const char* text) : rcConnectionInfo() {
    parse(text);
    verify();
}

void rcConnectionInfo::parse(const char* text) {
    const rcAttrStream stream(text);
    // Read in the written order: each lookup then costs one entry.
    bool complete = stream.getValue(kUserKey, userName_);
    hasGroupName_ = stream.getValue(kGroupKey, groupName_);
    hasHostUUID_ = stream.getValue(kUuidKey, hostUUID_);
    complete &= stream.getValue(kPasswordKey, password_);
    complete &= stream.getValue(kProcessNameKey, processName_);
    complete &= stream.getIntValue(kProcessIdKey, processId_);
    complete &= stream.getValue(kHostNameKey, hostName_);
    complete &= stream.getValue(kIpAddrKey, ipAddr_);
    complete &= stream.getIntValue(kSerialKey, serial_);
    complete &= stream.getIntValue(kTimestampKey, timestamp_);
    int crc = 0;
    if (stream.getIntValue(kCrcKey, crc))
        crc_ = static_cast<uint32_t>(crc);
    else
        complete = false;
    if (!complete)
        CO_DEBUG("Syntax error while parsing connection information, output values won't be accurate");
}

std::string rcConnectionInfo::toString() const {
    rcAttrStream stream;
    stream.addStringValue(kUserKey, userName_);
    if (hasGroupName_)
        stream.addStringValue(kGroupKey, groupName_);
    if (hasHostUUID_)
        stream.addStringValue(kUuidKey, hostUUID_);
    stream.addStringValue(kPasswordKey, password_);
    stream.addStringValue(kProcessNameKey, processName_);
    stream.addIntValue(kProcessIdKey, processId_);
    stream.addStringValue(kHostNameKey, hostName_);
    stream.addStringValue(kIpAddrKey, ipAddr_);
    stream.addIntValue(kSerialKey, serial_);
    stream.addIntValue(kTimestampKey, timestamp_);
    stream.addIntValue(kCrcKey, static_cast<int>(crc_));
    return stream.str();
}

uint32_t rcConnectionInfo::checksum() const {
    uint32_t c = 0;
    c = crcOfString(c, userName_);
    if (hasGroupName_)
        c = crcOfString(c, groupName_);
    if (hasHostUUID_)
        c = crcOfString(c, hostUUID_);
    c = crcOfString(c, hostName_);
    c = crcOfString(c, password_);
    c = crcOfString(c, ipAddr_);
    c = crcOfInt(c, timestamp_);
    c = crcOfInt(c, serial_);
    return c;
}

bool rcConnectionInfo::verify() {
    valid_ = checksum() == crc_;
    if (!valid_) {
        CO_ERROR("Unable to establish connection [%d]: checksum failed.", serial_);
        const long long age = static_cast<long long>(std::time(nullptr)) - timestamp_;
        CO_DEBUG("Connection [%d] Timestamp: %d Age: %d Checksum 0x%X", serial_, timestamp_, static_cast<int>(age),
                 crc_);
    }
    return valid_;
}

void rcConnectionInfo::dump() const {
    CO_NOTICE("Connection [%d] [%s/%s] [%s/%s] [%s/%d] ", serial_, userName_.c_str(), groupName_.c_str(),
              hostName_.c_str(), ipAddr_.c_str(), processName_.c_str(), processId_);
}

bool rcConnectionInfo::fillProcessName() {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/cmdline", static_cast<int>(::getpid()));
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        CO_ERROR("Could not open '%s': %s.", path, CoIoDescriptor::errnoText(err).c_str());
        return false;
    }
    // The first item is all we need; a longer one is cut.
    char buf[4096];
    ssize_t n;
    do {
        n = ::read(fd, buf, sizeof buf - 1);
    } while (n < 0 && errno == EINTR);
    const int readErr = errno;
    bool ok = true;
    if (n < 0) {
        CO_ERROR("Could not read '%s': %s.", path, CoIoDescriptor::errnoText(readErr).c_str());
        ok = false;
    } else {
        buf[n] = '\0';
        processName_ = baseName(buf);
    }
    if (::close(fd) != 0) {
        const int err = errno;
        CO_WARNING("Could not close '%s': %s.", path, CoIoDescriptor::errnoText(err).c_str());
    }
    return ok;
}

void rcConnectionInfo::prepare() { (void)currentNames(); }

void rcConnectionInfo::fill(CoIoDescriptor* descriptor) {
    valid_ = true;
    const Names names = currentNames();
    bool complete = names.hasUser;
    if (names.hasUser)
        userName_ = names.user;
    hasGroupName_ = names.hasGroup;
    if (hasGroupName_)
        groupName_ = names.group;
    complete &= hasGroupName_;

    int err = 0;
    const std::optional<std::string> host = localHostName(kHostNameBytes, &err);
    if (!host) {
        CO_ERROR("Could not retrieve host name: %s", CoIoDescriptor::errnoText(err).c_str());
        complete = false;
    }
    hostName_ = host ? *host : "localhost";

    std::string uuid;
    hasHostUUID_ = CoNetworkConfig::instance().getUUID(uuid);
    if (hasHostUUID_)
        hostUUID_ = uuid;
    else
        complete = false;

    complete &= fillProcessName();
    processId_ = static_cast<int>(::getpid());

    if (descriptor)
        descriptor->getSocketIP(ipAddr_);
    if (!complete)
        CO_DEBUG("User process information couldn't be adequately retrieved");
    crc_ = checksum();
}

}  // namespace Corvane
