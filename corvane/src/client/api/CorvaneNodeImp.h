// Internal to corvane_client.
// What a node handle knows: the node's identifier, its server, and what the
// server reported about the node, each item stale until it has been read
// successfully.
#pragma once

#include <string>

#include "client/api/CorvaneCached.h"
#include "client/api/CorvaneClipFormat.h"
#include "client/api/CorvaneNodeId.h"
#include "client/api/CorvaneNodeInterface.h"

class CorvaneServerHandle;

class CorvaneNodeImp {
public:
    CorvaneNodeImp(CorvaneServerHandle* server, const CorvaneNodeId& id) : id_(id), server_(server) {}

    CorvaneNodeId id_;
    CorvaneServerHandle* server_;  // not owned; outlives the node

    struct NodeType {
        int number = 0;
        std::string text;
    };
    CorvaneCached<NodeType> type_;
    CorvaneCached<std::string> displayName_;
    CorvaneCached<CorvaneNodeId> parent_;
    CorvaneCached<CorvaneNodeInterface::ChildList> children_;
    CorvaneCached<CorvaneClipFormat> clipFormat_;
    CorvaneCached<CorvaneNodeInterface::FrameList> frames_;
    CorvaneCached<CorvaneNodeInterface::StringList> framePaths_;
    CorvaneCached<CorvaneNodeInterface::StringList> streams_;
    CorvaneCached<int> readAheads_;
    CorvaneCached<std::string> streamId_;  // for reading the node's stream
};
