#include "client/api/CorvaneServerImp.h"

bool CorvaneServerImp::connect() {
    // TODO: connect through the shared-connection table once it exists.
    lastError_ = "Could not connect to Corvane server '" + serverId_ +
                 "': this build has no server connection layer yet";
    return false;
}
