// Public handle on one node of a server's node tree. The handle caches what
// the server reported about the node (type, name, parent, children, format,
// frames, streams) and asks again only for what it has not read yet.
// Copies are deep. The server handle must outlive its node handles. Every
// operation returns false on failure with the reason in lastError() (the
// server's last error); while the library is not initialised every
// operation fails with "The Corvane library is not initialised", even one
// whose answer the handle has cached. Used by one thread at a time.
// getNodeType's numbers have names in CorvaneNodeType.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "client/api/CorvaneFrameId.h"
#include "client/api/CorvaneNodeId.h"
#include "client/api/CorvaneStr.h"

class CorvaneClipFormat;
class CorvaneServerHandle;
class CorvaneStrList;
class CorvaneNodeImp;

// How CorvaneNodeHandle::readFrame reads.
struct CorvaneFrameReadOptions {
    // The server sends the frame without a status first, saving a round
    // trip per frame; a failure then arrives inside the buffer and is
    // reported as usual. Honoured for buffers of 4096 bytes or more only.
    bool noAck = false;
    // Frames the server may start reading now, for the reads to come;
    // empty identifiers are skipped.
    CorvaneFrameId readAhead[2];
    // A block for the server's frame reader, passed on unchanged; null for
    // none.
    const void* params = nullptr;
    size_t paramsBytes = 0;
};

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

    // The text of the node's metadata stream (getMetaDataStream names the
    // streams a node has). filter and depth travel to the server unchanged
    // (filter quoted when it holds a blank; null as "") and what they select
    // is the server's to decide: filter is a text the server narrows its
    // answer with, "" for none; depth a number of levels of the stream's
    // structure the answer goes into. The gateway asks with "" and 1 for a
    // stream, and with "" and 0 for "info"; corvane-sim applies neither and
    // answers the whole stream.
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

    // Frame data, over the server's frame data channel (servers of
    // 2012.0.0.5120 and later; older ones fail with "Functionality not
    // supported on remote Corvane server."). Sizes are in bytes; buffers
    // are the caller's, and are filled in place without copies. A frame of
    // another server's is read from there when this server says so.
    //
    // Fills exactly sizeBytes of buffer with the frame's data. A buffer
    // above INT_MAX bytes or a parameter block above UINT_MAX bytes is
    // refused before anything is sent.
    bool readFrame(const CorvaneFrameId& frame, void* buffer, size_t sizeBytes,
                   const CorvaneFrameReadOptions& options = CorvaneFrameReadOptions());
    bool writeFrame(const CorvaneFrameId& frame, const void* data, size_t sizeBytes);
    // Reads up to count elements of elementBytes each from the node's
    // stream, starting at position, into buffer; count becomes the number
    // read. Fails with "Buffer too small." when the server sends more than
    // sizeBytes.
    bool readStream(void* buffer, size_t sizeBytes, int64_t position, size_t elementBytes, int& count);

private:
    std::unique_ptr<CorvaneNodeImp> imp_;
};
