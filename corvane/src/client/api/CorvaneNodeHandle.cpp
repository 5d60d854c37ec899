#include "client/api/CorvaneNodeHandle.h"

#include <cassert>

#include "client/api/CorvaneServerHandle.h"
#include "client/api/CorvaneServerImp.h"

class CorvaneNodeImp {
public:
    CorvaneNodeImp(CorvaneServerHandle* server, const CorvaneNodeId& id) : id_(id), server_(server) {}

    CorvaneNodeId id_;
    CorvaneServerHandle* server_;
};

CorvaneNodeHandle::CorvaneNodeHandle()
    : imp_(new CorvaneNodeImp(&CorvaneServerHandle::defaultServer(), CorvaneNodeId())) {}

CorvaneNodeHandle::CorvaneNodeHandle(CorvaneServerHandle& server, const char* nodeId)
    : imp_(new CorvaneNodeImp(&server, CorvaneNodeId(nodeId))) {}

CorvaneNodeHandle::CorvaneNodeHandle(CorvaneServerHandle& server, const CorvaneNodeId& nodeId)
    : imp_(new CorvaneNodeImp(&server, nodeId)) {}

CorvaneNodeHandle::CorvaneNodeHandle(const CorvaneNodeHandle& other) : imp_(new CorvaneNodeImp(*other.imp_)) {}

CorvaneNodeHandle& CorvaneNodeHandle::operator=(const CorvaneNodeHandle& other) {
    if (this != &other)
        imp_.reset(new CorvaneNodeImp(*other.imp_));
    return *this;
}

CorvaneNodeHandle::~CorvaneNodeHandle() = default;

CorvaneNodeId CorvaneNodeHandle::getNodeId() const { return imp_->id_; }

const char* CorvaneNodeHandle::lastError() const {
    assert(imp_ != 0 && "imp_ != 0");
    return imp_->server_->lastError();
}

// Every operation needs the server; until the connection layer exists the
// connect step fails and leaves its reason as the last error.
bool CorvaneNodeHandle::getNodeTypeStr(CorvaneStr&) { return imp_->server_->imp()->connect(); }
bool CorvaneNodeHandle::getNumChildren(int&) { return imp_->server_->imp()->connect(); }
bool CorvaneNodeHandle::getChild(int, CorvaneNodeHandle&) { return imp_->server_->imp()->connect(); }
bool CorvaneNodeHandle::createNode(const char*, const char*, CorvaneNodeHandle&) {
    return imp_->server_->imp()->connect();
}
bool CorvaneNodeHandle::destroyNode() { return imp_->server_->imp()->connect(); }
bool CorvaneNodeHandle::getMetaData(const char*, const char*, int, CorvaneStr&) {
    return imp_->server_->imp()->connect();
}
bool CorvaneNodeHandle::setMetaData(const char*, const char*) { return imp_->server_->imp()->connect(); }
