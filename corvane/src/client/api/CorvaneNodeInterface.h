// Internal to corvane_client.
// The operations on a server's node tree, as the node handles see them.
// Every operation returns false on failure and leaves the reason in
// lastError(); success leaves lastError() unchanged. One thread uses an
// object at a time.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "client/api/CorvaneFrameId.h"
#include "client/api/CorvaneLastError.h"
#include "client/api/CorvaneNodeId.h"

class CorvaneClipFormat;
class CorvaneStr;

class CorvaneNodeInterface : public CorvaneLastError {
public:
    // (identifier, display name) of each child, in the server's order.
    typedef std::vector<std::pair<std::string, std::string>> ChildList;
    typedef std::vector<CorvaneFrameId> FrameList;
    typedef std::vector<std::string> StringList;

    CorvaneNodeInterface() = default;
    virtual ~CorvaneNodeInterface() = default;
    CorvaneNodeInterface(const CorvaneNodeInterface&) = delete;
    CorvaneNodeInterface& operator=(const CorvaneNodeInterface&) = delete;

    virtual bool getRootNode(CorvaneNodeId& root) = 0;
    virtual bool getParentNode(const CorvaneNodeId& node, CorvaneNodeId& parent) = 0;
    // Moving a node under another parent: no server offers it.
    virtual bool moveNode(const CorvaneNodeId& node, const CorvaneNodeId& newParent);
    // node receives the identifier the server gives the renamed node.
    virtual bool renameNode(CorvaneNodeId& node, const char* newName);
    virtual bool destroyNode(const CorvaneNodeId& node) = 0;
    virtual bool getChildren(const CorvaneNodeId& node, ChildList& children) = 0;
    // second: a further number the server reports with the type.
    virtual bool getNodeType(const CorvaneNodeId& node, int& type, int& second) = 0;
    virtual bool getNodeTypeStr(const CorvaneNodeId& node, std::string& type) = 0;
    virtual bool getDisplayName(const CorvaneNodeId& node, std::string& name) = 0;
    // Appends the new frames to frames.
    virtual bool allocateFrames(const CorvaneNodeId& node, int count, const CorvaneClipFormat& format,
                                FrameList& frames) = 0;
    virtual bool getFrames(const CorvaneNodeId& node, FrameList& frames) = 0;
    virtual bool getFramePaths(const CorvaneNodeId& node, StringList& paths) = 0;
    virtual bool setFramePaths(const CorvaneNodeId& node, const StringList& paths, const CorvaneClipFormat& format) = 0;
    virtual bool getClipFormat(const CorvaneNodeId& node, CorvaneClipFormat& format) = 0;
    virtual bool getNbReadAheads(const CorvaneNodeId& node, int& count) = 0;
    // A null filter is sent empty.
    virtual bool getMetaData(const CorvaneNodeId& node, const char* stream, const char* filter, int depth,
                             std::string& data) = 0;
    virtual bool setMetaData(const CorvaneNodeId& node, const char* stream, const char* data) = 0;
    // The names of the metadata streams the node offers.
    virtual bool queryMetaDataSupport(const CorvaneNodeId& node, StringList& streams) = 0;
    virtual bool getStreamId(const CorvaneNodeId& node, CorvaneStr& streamId) = 0;
};
