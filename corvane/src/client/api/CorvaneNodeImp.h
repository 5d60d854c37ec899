// Internal to corvane_client.
// What a node handle knows: the node's identifier, its server, and what the
// server reported about the node, each item with a stale flag that is set
// until the item has been read successfully.
#pragma once

#include <string>

#include "client/api/CorvaneClipFormat.h"
#include "client/api/CorvaneNodeId.h"
#include "client/api/CorvaneNodeInterface.h"

class CorvaneServerHandle;

class CorvaneNodeImp {
public:
    CorvaneNodeImp(CorvaneServerHandle* server, const CorvaneNodeId& id) : id_(id), server_(server) {}

    CorvaneNodeId id_;
    CorvaneServerHandle* server_;  // not owned; outlives the node

    int type_ = 0;
    std::string typeStr_;
    bool typeStale_ = true;
    std::string displayName_;
    bool displayNameStale_ = true;
    CorvaneNodeId parent_;
    bool parentStale_ = true;
    CorvaneNodeInterface::ChildList children_;
    bool childrenStale_ = true;
    CorvaneClipFormat clipFormat_;
    bool clipFormatStale_ = true;
    CorvaneNodeInterface::FrameList frames_;
    bool framesStale_ = true;
    CorvaneNodeInterface::StringList framePaths_;
    bool framePathsStale_ = true;
    CorvaneNodeInterface::StringList streams_;
    bool streamsStale_ = true;
    int readAheads_ = 0;
    bool readAheadsStale_ = true;
    std::string streamId_;  // for reading the node's stream
    bool streamIdStale_ = true;
};
