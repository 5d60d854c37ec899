#include "client/api/CorvaneDaemonInfo.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "base/loggerBase/CoMsg.h"
#include "base/rcApi/rcAttrStream.h"
#include "base/tcp/CoIoTcpDescriptor.h"
#include "base/time/CoClock.h"
#include "client/api/CorvaneHostFacts.h"
#include "client/api/CorvaneLocalHost.h"
#include "client/api/CorvaneOSType.h"
#include "client/api/CorvaneServerId.h"

namespace {

std::string indexed(const char* key, int index) { return key + std::to_string(index); }

// Reads IP0.. or FrameIP0.. up to the first missing key; true when any
// value read is non-empty.
bool readAddresses(const Corvane::rcAttrStream& stream, const char* key, CorvaneStr (&out)[5]) {
    bool any = false;
    std::string value;
    for (int i = 0; i < CorvaneDaemonInfo::kMaxAddresses; ++i) {
        if (!stream.getValue(indexed(key, i).c_str(), value))
            break;
        out[i] = value.c_str();
        any = any || !value.empty();
    }
    return any;
}

void readText(const Corvane::rcAttrStream& stream, const char* key, CorvaneStr& out) {
    std::string value;
    if (stream.getValue(key, value))
        out = value.c_str();
}

void readInt(const Corvane::rcAttrStream& stream, const char* key, int& out) { stream.getIntValue(key, out); }

bool listed(const CorvaneStr (&addresses)[5], const char* host) {
    for (const CorvaneStr& address : addresses) {
        if (address.isEmpty())
            break;
        if (address == host)
            return true;
    }
    return false;
}

}  // namespace

CorvaneDaemonInfo::CorvaneDaemonInfo() : timestampUs_(Corvane::CoClock::wallUs()) {}

CorvaneDaemonInfo::CorvaneDaemonInfo(const Corvane::rcAttrStream& stream) : CorvaneDaemonInfo() { read(stream); }

void CorvaneDaemonInfo::read(const Corvane::rcAttrStream& stream) {
    *this = CorvaneDaemonInfo();
    const bool anyIP = readAddresses(stream, "IP", ip_);

    std::string hostname;
    const bool haveHostname = stream.getValue("Hostname", hostname);
    if (!anyIP)
        ip_[0] = haveHostname ? hostname.c_str() : "";
    std::string hostName;
    if (stream.getValue("HostName", hostName))
        hostName_ = hostName.c_str();
    else
        hostName_ = haveHostname ? hostname.c_str() : "";

    if (!readAddresses(stream, "FrameIP", frameIP_))
        for (int i = 0; i < kMaxAddresses; ++i)
            frameIP_[i] = ip_[i];

    std::string display;
    displayName_ = stream.getValue("DisplayName", display) ? display.c_str() : hostName_.c_str();
    std::string os;
    osType_ = stream.getValue("OSType", os) ? CorvaneOSType::fromName(os.c_str()) : CorvaneOSType::Unknown;

    readText(stream, "Database", database_);
    readInt(stream, "NodePort", nodePort_);
    readInt(stream, "FramePort", framePort_);
    readInt(stream, "VersionMajor", versionMajor_);
    readInt(stream, "VersionMinor", versionMinor_);
    readInt(stream, "VersionMaint", versionMaint_);
    readInt(stream, "VersionBuild", versionBuild_);
    product_ = "unknown";
    readText(stream, "Product", product_);
    vendor_ = "unknown";
    readText(stream, "Vendor", vendor_);
    readInt(stream, "ProductVersionMajor", productVersionMajor_);
    readInt(stream, "ProductVersionMinor", productVersionMinor_);
    readInt(stream, "ProductVersionMaint", productVersionMaint_);
    readInt(stream, "ProductBuild", productBuild_);
    std::string versionStr;
    if (stream.getValue("ProductVersionStr", versionStr)) {
        productVersionStr_ = versionStr.c_str();
    } else {
        char text[64];
        std::snprintf(text, sizeof text, "%d.%d.%d", productVersionMajor_, productVersionMinor_, productVersionMaint_);
        productVersionStr_ = text;
    }
    // Servers before version 3 have no storage identity.
    if (versionMajor_ > 2)
        readText(stream, "StorageId", storageId_);
    readText(stream, "HostUUID", hostUUID_);
}

void CorvaneDaemonInfo::write(Corvane::rcAttrStream& stream) const {
    stream.assign(std::string());
    for (int i = 0; i < kMaxAddresses && !ip_[i].isEmpty(); ++i)
        stream.addStringValue(indexed("IP", i).c_str(), ip_[i].c_str());
    for (int i = 0; i < kMaxAddresses && !frameIP_[i].isEmpty(); ++i)
        stream.addStringValue(indexed("FrameIP", i).c_str(), frameIP_[i].c_str());
    stream.addStringValue("Hostname", hostName_.c_str());
    stream.addStringValue("HostName", hostName_.c_str());
    stream.addStringValue("DisplayName", displayName_.c_str());
    stream.addStringValue("OSType", CorvaneOSType::toName(osType_));
    stream.addStringValue("Database", database_.c_str());
    stream.addIntValue("NodePort", nodePort_);
    stream.addIntValue("FramePort", framePort_);
    stream.addIntValue("VersionMajor", versionMajor_);
    stream.addIntValue("VersionMinor", versionMinor_);
    stream.addIntValue("VersionMaint", versionMaint_);
    stream.addIntValue("VersionBuild", versionBuild_);
    stream.addStringValue("Product", product_.c_str());
    stream.addStringValue("Vendor", vendor_.c_str());
    stream.addIntValue("ProductVersionMajor", productVersionMajor_);
    stream.addIntValue("ProductVersionMinor", productVersionMinor_);
    stream.addIntValue("ProductVersionMaint", productVersionMaint_);
    stream.addStringValue("ProductVersionStr", productVersionStr_.c_str());
    stream.addIntValue("ProductBuild", productBuild_);
    stream.addStringValue("StorageId", storageId_.c_str());
    stream.addStringValue("HostUUID", hostUUID_.c_str());
}

const char* CorvaneDaemonInfo::getIP(int index) const {
    return index >= 0 && index < kMaxAddresses ? ip_[index].c_str() : "";
}

const char* CorvaneDaemonInfo::getFrameIP(int index) const {
    return index >= 0 && index < kMaxAddresses ? frameIP_[index].c_str() : "";
}

void CorvaneDaemonInfo::setIP(int index, const char* address) {
    if (index < 0 || index >= kMaxAddresses) {
        CO_WARNING("Exceding maximum number of IPs allowed, ignoring %s", address ? address : "");
        return;
    }
    ip_[index] = address;
}

void CorvaneDaemonInfo::setFrameIP(int index, const char* address) {
    if (index < 0 || index >= kMaxAddresses) {
        CO_WARNING("Exceding maximum number of IPs allowed, ignoring %s", address ? address : "");
        return;
    }
    frameIP_[index] = address;
}

void CorvaneDaemonInfo::touch() { timestampUs_ = Corvane::CoClock::wallUs(); }

bool CorvaneDaemonInfo::operator==(const CorvaneDaemonInfo& o) const {
    for (int i = 0; i < kMaxAddresses; ++i)
        if (ip_[i] != o.ip_[i] || frameIP_[i] != o.frameIP_[i])
            return false;
    return hostName_ == o.hostName_ && displayName_ == o.displayName_ && osType_ == o.osType_ &&
           database_ == o.database_ && nodePort_ == o.nodePort_ && framePort_ == o.framePort_ &&
           versionMajor_ == o.versionMajor_ && versionMinor_ == o.versionMinor_ && versionMaint_ == o.versionMaint_ &&
           versionBuild_ == o.versionBuild_ && product_ == o.product_ && vendor_ == o.vendor_ &&
           productVersionMajor_ == o.productVersionMajor_ && productVersionMinor_ == o.productVersionMinor_ &&
           productVersionMaint_ == o.productVersionMaint_ && productBuild_ == o.productBuild_ &&
           productVersionStr_ == o.productVersionStr_ && storageId_ == o.storageId_ && hostUUID_ == o.hostUUID_ &&
           user1_ == o.user1_ && user2_ == o.user2_;
}

bool CorvaneDaemonInfo::operator<(const CorvaneDaemonInfo& other) const {
    const int byName = std::strcmp(displayName_.c_str(), other.displayName_.c_str());
    if (byName != 0)
        return byName < 0;
    return std::strcmp(database_.c_str(), other.database_.c_str()) < 0;
}

CorvaneServerId CorvaneDaemonInfo::toServerId() const {
    CorvaneServerId id(database_.c_str(), ip_[0].c_str(), nodePort_);
    id.setStorageId(storageId_.c_str());
    return id;
}

bool CorvaneDaemonInfo::isLocal() const {
    std::string localUuid;
    if (!hostUUID_.isEmpty() && corvaneLocalHostUUID(&localUuid))
        return localUuid == hostUUID_.c_str();
    for (const CorvaneStr& address : ip_) {
        if (address.isEmpty())
            break;
        if (!corvaneIsLocalAddress(address.c_str()))
            return false;
    }
    return true;
}

bool CorvaneDaemonInfo::matches(const CorvaneServerId& id) const {
    if (*id.getStorageId())
        return storageId_ == id.getStorageId();
    if (id.getPort() != 0 && id.getPort() != nodePort_)
        return false;
    if (*id.getDatabase() && database_ != id.getDatabase())
        return false;
    std::string host = id.getHost();
    std::string address;
    if (!host.empty() && std::isalpha(static_cast<unsigned char>(host[0])) &&
        Corvane::CoIoTcpDescriptor::getIpAddrFromHostName(host.c_str(), address))
        host = address;
    if (listed(ip_, host.c_str()) || listed(frameIP_, host.c_str()))
        return true;
    return isLocalHost(host.c_str()) && isLocal();
}

std::string CorvaneDaemonInfo::getMsgQName() const {
    return std::string("/var/tmp/msgq.cv.") + database_.c_str() + "." + std::to_string(framePort_);
}
