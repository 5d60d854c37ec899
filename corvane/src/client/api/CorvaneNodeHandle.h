// Public handle on one node of a server's node tree. The handle caches what
// the server reported about the node (type, name, parent, children, format,
// frames, streams) and asks again only for what it has not read yet.
// Copies are deep. The server handle must outlive its node handles. Every
// operation returns false on failure with the reason in lastError() (the
// server's last error). Used by one thread at a time.
#pragma once

#include <memory>
#include <vector>

#include "client/api/CorvaneFrameId.h"
#include "client/api/CorvaneNodeId.h"
#include "client/api/CorvaneStr.h"

class CorvaneClipFormat;
class CorvaneServerHandle;
class CorvaneStrList;
class CorvaneNodeImp;

class CorvaneNodeHandle {
public:
    CorvaneNodeHandle();  // an empty node of the default server
    CorvaneNodeHandle(CorvaneServerHandle& server, const char* nodeId);
    CorvaneNodeHandle(CorvaneServerHandle& server, const CorvaneNodeId& nodeId);
    CorvaneNodeHandle(const CorvaneNodeHandle& other);
    CorvaneNodeHandle& operator=(const CorvaneNodeHandle& other);
    virtual ~CorvaneNodeHandle();

    CorvaneNodeId getNodeId() const;
    CorvaneServerHandle* getServer() const;
    // Moves the handle to the same node identifier on another server.
    void setServer(CorvaneServerHandle& server);
    // The server's last error; never null.
    const char* lastError() const;

    bool getRootNode(CorvaneNodeHandle& root);
    bool getParentNode(CorvaneNodeHandle& parent);
    bool getNodeTypeStr(CorvaneStr& type);
    bool getNodeType(int& type);
    bool getDisplayName(CorvaneStr& name);
    bool rename(const char* newName);

    bool getNumChildren(int& count);
    bool getChild(int index, CorvaneNodeHandle& child);
    // The first child whose display name is exactly name.
    bool findChild(const char* name, CorvaneNodeHandle& child);
    // Walks "a/b/c" from this node, one component at a time.
    bool findNode(const char* path, CorvaneNodeHandle& node);

    // type: a decimal type number, or a type name sent as the extended type.
    bool createNode(const char* displayName, const char* type, CorvaneNodeHandle& child);
    bool createNode(const char* displayName, int type, const char* exType, const CorvaneClipFormat& format,
                    CorvaneNodeHandle& child);
    // On success the handle becomes an empty node of the same server.
    bool destroyNode();

    bool getMetaData(const char* stream, const char* filter, int depth, CorvaneStr& data);
    bool setMetaData(const char* stream, const char* data);
    bool getNumMetaDataStreams(int& count);
    bool getMetaDataStream(int index, CorvaneStr& name);
    bool isMetaDataStreamSupported(const char* name, bool& supported);
    bool getStreamId(CorvaneStr& streamId);

    bool getClipFormat(CorvaneClipFormat& format);
    bool getNbReadAheads(int& count);
    bool getNumFrames(int& count);
    bool getFrame(int index, CorvaneFrameId& frame);
    // Appends the new frames to frames.
    bool allocateFrames(int count, const CorvaneClipFormat& format, std::vector<CorvaneFrameId>& frames);
    bool getNumFramePaths(int& count);
    bool getFramePath(int index, CorvaneStr& path);
    // Makes the node's frames the existing media files at paths.
    bool setFramePaths(const CorvaneStrList& paths, const CorvaneClipFormat& format);

private:
    std::unique_ptr<CorvaneNodeImp> imp_;
};
