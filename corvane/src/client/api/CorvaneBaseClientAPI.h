// Internal to corvane_client.
// Encodes the server-level methods (version, ping, shutdown, event
// registration, daemon information, path translation) as synchronous method
// calls on a server's connection. Holds only the connection (not owned) and
// the last error; exceptions from the connection become false results with
// their text in lastError(). One thread uses an object at a time.
#pragma once

#include <string>
#include <vector>

#include "client/api/CorvaneBaseInterface.h"
#include "client/api/CorvaneClientConnection.h"

class CorvaneDaemonInfo;
class CorvaneNodeId;
class CorvaneStrList;

// Servers whose paths translate into each other.
struct CorvaneTranslationGroup {
    std::string name;
    int number = 0;
    std::vector<std::string> members;
};

// A path on one host and where it appears on another.
struct CorvaneHostTranslation {
    std::string srcHost;
    std::string srcPath;
    std::string dstHost;
    std::string dstPath;
};

// A path on one kind of operating system and where it appears on another.
struct CorvaneOsTypeTranslation {
    std::string srcType;
    std::string srcPath;
    std::string dstType;
    std::string dstPath;
};

class CorvaneBaseClientAPI : public CorvaneBaseInterface {
public:
    explicit CorvaneBaseClientAPI(CorvaneClientConnection* connection);
    ~CorvaneBaseClientAPI() override;

    bool shutdown() override;

    bool queryVersion(int& major, int& minor);
    // timeoutMs bounds both connecting and the call.
    bool ping(unsigned int timeoutMs);
    // Asks the server to call the event method at port for connection with
    // the events of subject.
    bool registerEvents(int port, int connection, const CorvaneNodeId& subject);
    bool unregisterEvents(int port, int connection, const CorvaneNodeId& subject);
    // A copy of the connection's record, asked from the server when stale.
    bool getDaemonInfo(CorvaneDaemonInfo& info);
    // Translates paths from srcHost to dstHost into out; the codes are passed
    // to the server unchanged.
    bool translatePaths(const CorvaneStrList& paths, CorvaneStrList& out, const char* srcHost, const char* dstHost,
                        int srcCode, int dstCode);
    bool getTranslationGroups(std::vector<CorvaneTranslationGroup>& groups);
    bool getHostTranslations(std::vector<CorvaneHostTranslation>& translations);
    bool getOsTypeTranslations(std::vector<CorvaneOsTypeTranslation>& translations);

    // No server call.
    bool isConnected();
    void addConnectCallback(CorvaneClientConnection::ConnectCallback* callback);
    void removeConnectCallback(CorvaneClientConnection::ConnectCallback* callback);

    CorvaneClientConnection* connection() const { return connection_; }

private:
    CorvaneClientConnection* connection_;
};
