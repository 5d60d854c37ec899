#include "client/api/CorvaneInit.h"

#include "base/loggerBase/CoMsg.h"
#include "base/network/CoNetwork.h"
#include "base/rcApi/rcAPI.h"
#include "client/api/CorvaneClientConnection.h"
#include "client/api/CorvaneConnectionTable.h"
#include "client/api/CorvaneEventMonitor.h"
#include "client/api/CorvaneMulticastClient.h"
#include "client/api/CorvaneServerImp.h"

namespace {
int gInitCount = 0;
}

bool corvaneInit() {
    if (gInitCount++ > 0)
        return true;
    // Callers share standard output with the library: from now on only user
    // messages are posted unless XQ_MSG_LEVEL asks for more.
    Corvane::CoMsg::setDefaultLevel(Corvane::CoMsg::user);
    if (!Corvane::CoNetwork::init())
        return false;
    // The node-event monitor starts at the first handler registration:
    // most programs (the gateway) never register, and should not pay for
    // its thread and listening socket.
    corvaneCreateConnectionTable();
    return true;
}

void corvaneUninit() {
    if (gInitCount <= 0 || --gInitCount > 0)
        return;
    // Handles may outlive the library: they drop their connections, event
    // links and frame channels first, while the discovery client, the
    // monitor and the table those point into still exist.
    corvaneReleaseAllServers();
    CorvaneMulticastClient::destroyInstance();
    CorvaneEventMonitor::destroyIfMade();
    corvaneDeleteConnectionTable();
    Corvane::rcAPI::closeParked();
    Corvane::CoNetwork::uninit();
}

void corvaneVersion(int* major, int* minor, int* maint) {
    if (major)
        *major = 2014;
    if (minor)
        *minor = 0;
    if (maint)
        *maint = 0;
}

// The build passes the project's version, which the generated
// CorvaneVersion.h carries too.
const char* corvaneLibraryVersion() { return CORVANE_PROJECT_VERSION; }

void corvanePurgeConnections(bool all) { corvaneCleanConnections(all); }

void corvaneSetDisconnectCallback(void (*callback)(const CorvaneServerId& server)) {
    CorvaneClientConnection::disconnectCB_ = callback;
}
