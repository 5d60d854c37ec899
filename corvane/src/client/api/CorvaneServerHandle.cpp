#include "client/api/CorvaneServerHandle.h"

#include <string>

#include "client/api/CorvaneServerImp.h"

CorvaneServerHandle::CorvaneServerHandle(const char* serverId) : imp_(new CorvaneServerImp(serverId)) {}

CorvaneServerHandle::~CorvaneServerHandle() = default;

bool CorvaneServerHandle::cancel(const char* reason) { return imp_->cancel(reason); }

const char* CorvaneServerHandle::lastError() const { return imp_->lastError(); }

CorvaneServerHandle& CorvaneServerHandle::defaultServer() {
    static CorvaneServerHandle server("");
    return server;
}
