// Public handle on one node of a server's node tree. Copies are deep: each
// copy has its own cached view of the node. The server handle must outlive
// its node handles. Used by one thread at a time.
#pragma once

#include <memory>

#include "client/api/CorvaneNodeId.h"
#include "client/api/CorvaneStr.h"

class CorvaneServerHandle;
class CorvaneNodeImp;

class CorvaneNodeHandle {
public:
    CorvaneNodeHandle();  // empty node of the default server
    CorvaneNodeHandle(CorvaneServerHandle& server, const char* nodeId);
    CorvaneNodeHandle(CorvaneServerHandle& server, const CorvaneNodeId& nodeId);
    CorvaneNodeHandle(const CorvaneNodeHandle& other);
    CorvaneNodeHandle& operator=(const CorvaneNodeHandle& other);
    virtual ~CorvaneNodeHandle();

    CorvaneNodeId getNodeId() const;
    // The server's last-error text; never null.
    const char* lastError() const;

    bool getNodeTypeStr(CorvaneStr& type);
    bool getNumChildren(int& count);
    bool getChild(int index, CorvaneNodeHandle& child);
    bool createNode(const char* displayName, const char* type, CorvaneNodeHandle& child);
    bool destroyNode();
    bool getMetaData(const char* stream, const char* filter, int depth, CorvaneStr& data);
    bool setMetaData(const char* stream, const char* data);

private:
    std::unique_ptr<CorvaneNodeImp> imp_;
};
