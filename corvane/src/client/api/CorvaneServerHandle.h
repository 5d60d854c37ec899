// Public handle on one Corvane server, named by a server identifier (text:
// "host", "host:port" or "host:database"). Makes no connection until an
// operation needs one; then holds a reference on the server's shared
// connection until destroyed. Every operation returns false (or null) on
// failure with the reason in lastError(). Used by one thread at a time,
// except cancel(), which another thread may call during an operation.
//
// Lifetime. A handle may be made before corvaneInit() and may outlive the
// last corvaneUninit(): the last stop drops its connection, its event
// registrations and its frame channel, and until the library runs again
// every operation fails with "The Corvane library is not initialised".
// Destroying it is always safe. After a new corvaneInit() it connects
// again as a new handle would.
//
// What a first connection costs. The first operation that talks to a
// server connects, and a connection looks the server up through discovery
// first, with a port in the identifier or without: the first lookup in a
// process asks this host, then multicasts a search, and waits up to about
// one second for an answer when no server anywhere answers discovery
// (milliseconds when one does). Later lookups in the process use what was
// found. A server named with its port ("host:7549") that discovery does
// not list is then reached directly. Where discovery is of no use, turn it
// off (CORVANE_DISCOVERY=off in the environment, or setDiscovery(false)):
// "host:port" then connects directly, in milliseconds, and an identifier
// without a port fails.
#pragma once

#include <memory>
#include <thread>
#include <vector>

#include "client/api/CorvaneNodeEvent.h"
#include "client/api/CorvaneStr.h"

class CorvaneDaemonInfo;
class CorvaneServerId;
class CorvaneServerImp;
class CorvaneStrList;
struct CorvaneTranslationGroup;
struct CorvaneHostTranslation;
struct CorvaneOsTypeTranslation;

class CorvaneServerHandle {
public:
    explicit CorvaneServerHandle(const char* serverId);
    explicit CorvaneServerHandle(const CorvaneServerId& serverId);
    virtual ~CorvaneServerHandle();
    CorvaneServerHandle(const CorvaneServerHandle&) = delete;
    CorvaneServerHandle& operator=(const CorvaneServerHandle&) = delete;

    // From the server's description.
    bool getVersion(int& major, int& minor);
    bool getDaemonInfo(CorvaneDaemonInfo& info);
    bool getStorageId(CorvaneStr& storageId);
    bool getDisplayName(CorvaneStr& name);
    // Null when the server can not be asked; valid until the handle's next
    // operation.
    const char* getHostName();
    const char* getHostUUID();

    bool isConnected();
    // Closes this server's connection; the next operation reconnects.
    void disconnect();
    // Stops the command in progress on this server's connections; an empty
    // reason leaves the connection's own text as the operation's error.
    bool cancel(const char* reason = "");
    // As cancel(), but only a command that thread runs: another thread's
    // command on a connection this handle shares goes on.
    bool cancelCallOf(std::thread::id thread, const char* reason = "");
    // timeoutMs bounds the login too, when the ping connects.
    bool ping(unsigned int timeoutMs = 10000);

    // How long this handle's operations wait for the server's answer to the
    // login when they connect: a server that accepts the connection but
    // never answers fails the operation after ms with the time-out text
    // ("Connection timed out"), not after the call's own time-out. The
    // default is defaultLoginTimeout(). A connection that several handles
    // share takes the time-out of the handle whose operation connects it.
    void setLoginTimeout(unsigned int ms);
    // CORVANE_LOGIN_TIMEOUT of the process environment, in ms (its leading
    // digits, read once), else 5000.
    static unsigned int defaultLoginTimeout();

    // Asks the server where srcPath on srcHost appears on dstHost.
    bool translatePath(const char* srcPath, const char* srcHost, const char* dstHost, int srcCode, int dstCode,
                       CorvaneStr& dstPath);
    bool translatePaths(const CorvaneStrList& srcPaths, const char* srcHost, const char* dstHost, int srcCode,
                        int dstCode, CorvaneStrList& dstPaths);

    bool getNodePlugInVersion(int& major, int& minor);
    bool getNodePlugInProduct(CorvaneStr& product);
    bool getNodePlugInVendor(CorvaneStr& vendor);

    // Each list is read from the server once per count call.
    bool getNumTranslationGroups(int& count);
    bool getTranslationGroup(int index, CorvaneTranslationGroup& group);
    bool getNumHostTranslations(int& count);
    bool getHostTranslation(int index, CorvaneHostTranslation& translation);
    bool getNumOsTypeTranslations(int& count);
    bool getOsTypeTranslation(int index, CorvaneOsTypeTranslation& translation);

    // Whole files over the frame data channel (servers of 2012.0.0.5120 and
    // later; older ones fail with "Functionality not supported on remote
    // Corvane server."). remotePath is a path as the server knows it. A
    // pulled file replaces localPath only once all of it has come.
    bool pullFile(const char* remotePath, const char* localPath);
    bool pushFile(const char* remotePath, const char* localPath);
    // Tells the server to forget the frames it keeps cached.
    bool invalidateFrameCache();

    // Has handler told of the events of node, after the handlers registered
    // before it; it must stay alive until unregistered (see
    // CorvaneNodeEvent::Handler). The first handler of a node asks the
    // server for its events, and the library asks again after every
    // reconnection. Registering twice means being told twice.
    bool registerEventHandler(const CorvaneNodeId& node, CorvaneNodeEvent::Handler* handler);
    // Once this returns, handler is not running for node and will not be
    // called for it again. The last handler of a node tells the server to
    // stop sending its events.
    bool unregisterEventHandler(const CorvaneNodeId& node, CorvaneNodeEvent::Handler* handler);

    // The identifier, after the handle has tried to connect.
    const CorvaneServerId& getServerId();
    const char* getServerIdStr();

    // Never null.
    const char* lastError() const;

    // True when discovery lists the server named by serverId, as a
    // connection would look it up (starting discovery in this process if
    // nothing has yet). Makes no connection to the server. False when
    // discovery is off or the library is not initialised.
    static bool isDiscovered(const char* serverId);
    // The servers discovery lists, ordered by display name, then database:
    // copies, made after the search a connection's first lookup makes
    // (starting discovery in this process if nothing has yet); in a process
    // that keeps the library up, the list follows servers that announce
    // themselves or say goodbye. Makes no connection to a listed server.
    // False, with out empty, when discovery is unavailable or off, or the
    // library is not initialised. Thread-safe.
    static bool discoveredServers(std::vector<CorvaneDaemonInfo>& out);

    // Turns discovery on or off for the whole process, for the lookups
    // that come after (see "What a first connection costs" above). Without
    // a call, CORVANE_DISCOVERY decides: "off" or "0" turns it off, and
    // anything else or nothing leaves it on. Thread-safe.
    static void setDiscovery(bool enabled);
    static bool discoveryEnabled();

    // The handle that default-built node handles belong to. It lives to the
    // end of the process; library stop drops its connection, as it does
    // every handle's.
    static CorvaneServerHandle& defaultServer();

    CorvaneServerImp* imp() const { return imp_.get(); }

private:
    struct Translations;

    std::unique_ptr<CorvaneServerImp> imp_;
    std::unique_ptr<Translations> translations_;
};
