#include "client/api/CorvaneServerHandle.h"

#include <cassert>
#include <string>
#include <vector>

#include "client/api/CorvaneBaseClientAPI.h"
#include "client/api/CorvaneClientConnection.h"
#include "client/api/CorvaneConnectionTable.h"
#include "client/api/CorvaneDaemonInfo.h"
#include "client/api/CorvaneFrameClientAPI.h"
#include "client/api/CorvaneNodeClientAPI.h"
#include "client/api/CorvaneServerId.h"
#include "client/api/CorvaneServerImp.h"
#include "client/api/CorvaneStrList.h"

// The translation lists last read, for access by index.
struct CorvaneServerHandle::Translations {
    std::vector<CorvaneTranslationGroup> groups;
    std::vector<CorvaneHostTranslation> hosts;
    std::vector<CorvaneOsTypeTranslation> osTypes;
};

namespace {

template <typename T>
bool entryAt(CorvaneServerImp& imp, const std::vector<T>& list, int index, T& out, const char* message) {
    if (index < 0 || index >= static_cast<int>(list.size()))
        return imp.fail(message);
    out = list[static_cast<size_t>(index)];
    return true;
}

}  // namespace

CorvaneServerHandle::CorvaneServerHandle(const char* serverId) : CorvaneServerHandle(CorvaneServerId(serverId)) {}

CorvaneServerHandle::CorvaneServerHandle(const CorvaneServerId& serverId)
    : imp_(std::make_unique<CorvaneServerImp>(serverId)), translations_(std::make_unique<Translations>()) {}

CorvaneServerHandle::~CorvaneServerHandle() = default;

bool CorvaneServerHandle::getVersion(int& major, int& minor) {
    CorvaneDaemonInfo info;
    if (!imp_->getDaemonInfo(info))
        return false;
    major = info.getVersionMajor();
    minor = info.getVersionMinor();
    return true;
}

bool CorvaneServerHandle::getDaemonInfo(CorvaneDaemonInfo& info) { return imp_->getDaemonInfo(info); }

bool CorvaneServerHandle::getStorageId(CorvaneStr& storageId) {
    CorvaneDaemonInfo info;
    if (!imp_->getDaemonInfo(info))
        return false;
    storageId = info.getStorageId();
    return true;
}

bool CorvaneServerHandle::getDisplayName(CorvaneStr& name) {
    CorvaneDaemonInfo info;
    if (!imp_->getDaemonInfo(info))
        return false;
    name = info.getDisplayName();
    return true;
}

// The texts point into the server implementation's own last record, which
// only this handle's thread rewrites.
const char* CorvaneServerHandle::getHostName() {
    CorvaneDaemonInfo info;
    return imp_->getDaemonInfo(info) ? imp_->lastDaemonInfo().getHostName() : nullptr;
}

const char* CorvaneServerHandle::getHostUUID() {
    CorvaneDaemonInfo info;
    return imp_->getDaemonInfo(info) ? imp_->lastDaemonInfo().getHostUUID() : nullptr;
}

bool CorvaneServerHandle::isConnected() { return imp_->isConnected(); }

void CorvaneServerHandle::disconnect() { imp_->disconnect(); }

bool CorvaneServerHandle::cancel(const char* reason) {
    imp_->cancel(reason);
    return true;
}

bool CorvaneServerHandle::cancelCallOf(std::thread::id thread, const char* reason) {
    imp_->cancel(reason, &thread);
    return true;
}

void CorvaneServerHandle::setLoginTimeout(unsigned int ms) { imp_->setLoginTimeout(ms); }

unsigned int CorvaneServerHandle::defaultLoginTimeout() { return CorvaneClientConnection::defaultLoginTimeoutMs(); }

bool CorvaneServerHandle::ping(unsigned int timeoutMs) {
    if (!imp_->connect(timeoutMs))
        return false;
    CorvaneBaseClientAPI* base = imp_->baseApi();
    return base->ping(timeoutMs) || imp_->fail(base->lastError());
}

bool CorvaneServerHandle::translatePaths(const CorvaneStrList& srcPaths, const char* srcHost, const char* dstHost,
                                         int srcCode, int dstCode, CorvaneStrList& dstPaths) {
    if (!imp_->connect())
        return false;
    CorvaneBaseClientAPI* base = imp_->baseApi();
    return base->translatePaths(srcPaths, dstPaths, srcHost, dstHost, srcCode, dstCode) ||
           imp_->fail(base->lastError());
}

bool CorvaneServerHandle::translatePath(const char* srcPath, const char* srcHost, const char* dstHost, int srcCode,
                                        int dstCode, CorvaneStr& dstPath) {
    CorvaneStrList in, out;
    in.append(srcPath);
    if (!translatePaths(in, srcHost, dstHost, srcCode, dstCode, out))
        return false;
    dstPath = out.size() > 0 ? out.getStr(0) : "";
    return true;
}

bool CorvaneServerHandle::getNodePlugInVersion(int& major, int& minor) {
    if (!imp_->connect())
        return false;
    CorvaneNodeClientAPI* node = imp_->nodeApi();
    return node->queryNodePlugInVersion(major, minor) || imp_->fail(node->lastError());
}

bool CorvaneServerHandle::getNodePlugInProduct(CorvaneStr& product) {
    if (!imp_->connect())
        return false;
    CorvaneNodeClientAPI* node = imp_->nodeApi();
    std::string text;
    if (!node->queryNodePlugInProduct(text))
        return imp_->fail(node->lastError());
    product = text.c_str();
    return true;
}

bool CorvaneServerHandle::getNodePlugInVendor(CorvaneStr& vendor) {
    if (!imp_->connect())
        return false;
    CorvaneNodeClientAPI* node = imp_->nodeApi();
    std::string text;
    if (!node->queryNodePlugInVendor(text))
        return imp_->fail(node->lastError());
    vendor = text.c_str();
    return true;
}

bool CorvaneServerHandle::getNumTranslationGroups(int& count) {
    if (!imp_->connect())
        return false;
    CorvaneBaseClientAPI* base = imp_->baseApi();
    if (!base->getTranslationGroups(translations_->groups))
        return imp_->fail(base->lastError());
    count = static_cast<int>(translations_->groups.size());
    return true;
}

bool CorvaneServerHandle::getTranslationGroup(int index, CorvaneTranslationGroup& group) {
    return entryAt(*imp_, translations_->groups, index, group, "Translation group index out of range");
}

bool CorvaneServerHandle::getNumHostTranslations(int& count) {
    if (!imp_->connect())
        return false;
    CorvaneBaseClientAPI* base = imp_->baseApi();
    if (!base->getHostTranslations(translations_->hosts))
        return imp_->fail(base->lastError());
    count = static_cast<int>(translations_->hosts.size());
    return true;
}

bool CorvaneServerHandle::getHostTranslation(int index, CorvaneHostTranslation& translation) {
    return entryAt(*imp_, translations_->hosts, index, translation, "Host Translation index out of range");
}

bool CorvaneServerHandle::getNumOsTypeTranslations(int& count) {
    if (!imp_->connect())
        return false;
    CorvaneBaseClientAPI* base = imp_->baseApi();
    if (!base->getOsTypeTranslations(translations_->osTypes))
        return imp_->fail(base->lastError());
    count = static_cast<int>(translations_->osTypes.size());
    return true;
}

bool CorvaneServerHandle::getOsTypeTranslation(int index, CorvaneOsTypeTranslation& translation) {
    return entryAt(*imp_, translations_->osTypes, index, translation, "OS Type Translation index out of range");
}

bool CorvaneServerHandle::pullFile(const char* remotePath, const char* localPath) {
    return imp_->frameOperation([&](CorvaneFrameClientAPI& frames) { frames.pullFile(remotePath, localPath); });
}

bool CorvaneServerHandle::pushFile(const char* remotePath, const char* localPath) {
    return imp_->frameOperation([&](CorvaneFrameClientAPI& frames) { frames.pushFile(remotePath, localPath); });
}

bool CorvaneServerHandle::invalidateFrameCache() {
    return imp_->frameOperation([](CorvaneFrameClientAPI& frames) { frames.invalidateCache(); });
}

bool CorvaneServerHandle::registerEventHandler(const CorvaneNodeId& node, CorvaneNodeEvent::Handler* handler) {
    return imp_->registerEventHandler(node, handler);
}

bool CorvaneServerHandle::unregisterEventHandler(const CorvaneNodeId& node, CorvaneNodeEvent::Handler* handler) {
    return imp_->unregisterEventHandler(node, handler);
}

const CorvaneServerId& CorvaneServerHandle::getServerId() {
    imp_->share();
    return imp_->serverId();
}

const char* CorvaneServerHandle::getServerIdStr() { return getServerId().getStr(); }

const char* CorvaneServerHandle::lastError() const {
    assert(imp_ != 0 && "imp_ != 0");
    return imp_->lastError();
}

bool CorvaneServerHandle::isDiscovered(const char* serverId) {
    return corvaneConnectionTableExists() && CorvaneClientConnection::isDiscovered(CorvaneServerId(serverId));
}

void CorvaneServerHandle::setDiscovery(bool enabled) { CorvaneClientConnection::setDiscovery(enabled); }

bool CorvaneServerHandle::discoveryEnabled() { return CorvaneClientConnection::discoveryEnabled(); }

bool CorvaneServerHandle::discoveredServers(std::vector<CorvaneDaemonInfo>& out) {
    out.clear();
    return corvaneConnectionTableExists() && CorvaneClientConnection::discoveredServers(out);
}

CorvaneServerHandle& CorvaneServerHandle::defaultServer() {
    // Never destroyed: node handles in other static objects may outlive any
    // destruction order. Library stop releases its connection instead.
    static CorvaneServerHandle* const server = new CorvaneServerHandle("");
    return *server;
}
