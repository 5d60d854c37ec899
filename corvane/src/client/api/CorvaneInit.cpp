#include "client/api/CorvaneInit.h"

#include "base/loggerBase/CoMsg.h"

namespace {
int gInitCount = 0;
}

bool corvaneInit() {
    if (gInitCount++ > 0)
        return true;
    // Callers share standard output with the library: from now on only user
    // messages are posted unless XQ_MSG_LEVEL asks for more.
    Corvane::CoMsg::setDefaultLevel(Corvane::CoMsg::user);
    // TODO: the network layer, the event monitor and the shared-connection
    // table start here once they exist; until then there is nothing to fail.
    return true;
}

void corvaneUninit() {
    if (gInitCount <= 0 || --gInitCount > 0)
        return;
    // TODO: stop what corvaneInit starts once those pieces exist.
}

void corvaneVersion(int* major, int* minor, int* maint) {
    if (major)
        *major = 2014;
    if (minor)
        *minor = 0;
    if (maint)
        *maint = 0;
}
