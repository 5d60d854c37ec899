#include "client/api/CorvaneInit.h"

#include "base/loggerBase/CoMsg.h"
#include "client/api/CorvaneClientConnection.h"
#include "client/api/CorvaneConnectionTable.h"
#include "client/api/CorvaneMulticastClient.h"

namespace {
int gInitCount = 0;
}

bool corvaneInit() {
    if (gInitCount++ > 0)
        return true;
    // Callers share standard output with the library: from now on only user
    // messages are posted unless XQ_MSG_LEVEL asks for more.
    Corvane::CoMsg::setDefaultLevel(Corvane::CoMsg::user);
    // TODO: initialise the network layer and start the node-event monitor
    // here once they exist; the connection table needs neither.
    corvaneCreateConnectionTable();
    return true;
}

void corvaneUninit() {
    if (gInitCount <= 0 || --gInitCount > 0)
        return;
    CorvaneMulticastClient::destroyInstance();
    corvaneDeleteConnectionTable();
}

void corvaneVersion(int* major, int* minor, int* maint) {
    if (major)
        *major = 2014;
    if (minor)
        *minor = 0;
    if (maint)
        *maint = 0;
}

void corvanePurgeConnections(bool all) { corvaneCleanConnections(all); }

void corvaneSetDisconnectCallback(void (*callback)(const CorvaneServerId& server)) {
    CorvaneClientConnection::disconnectCB_ = callback;
}
