// Internal to corvane_client.
// Encodes every node-tree operation as one synchronous method call on a
// server's connection and decodes the reply into the client's value types.
// Holds only the connection (not owned; the server handle's shared one) and
// the last error. Exceptions from the connection become false results with
// their text in lastError(); nothing is thrown. One thread uses an object at
// a time; the connection serialises calls between objects.
#pragma once

#include <string>

#include "client/api/CorvaneNodeInterface.h"

class CorvaneClientConnection;

class CorvaneNodeClientAPI : public CorvaneNodeInterface {
public:
    explicit CorvaneNodeClientAPI(CorvaneClientConnection* connection);
    ~CorvaneNodeClientAPI() override;

    bool getRootNode(CorvaneNodeId& root) override;
    bool getParentNode(const CorvaneNodeId& node, CorvaneNodeId& parent) override;
    bool renameNode(CorvaneNodeId& node, const char* newName) override;
    bool destroyNode(const CorvaneNodeId& node) override;
    // Fails without a call when the identifier holds a comma.
    bool getChildren(const CorvaneNodeId& node, ChildList& children) override;
    bool getNodeType(const CorvaneNodeId& node, int& type, int& second) override;
    bool getNodeTypeStr(const CorvaneNodeId& node, std::string& type) override;
    // The name as the server sends it, not converted.
    bool getDisplayName(const CorvaneNodeId& node, std::string& name) override;
    bool allocateFrames(const CorvaneNodeId& node, int count, const CorvaneClipFormat& format,
                        FrameList& frames) override;
    bool getFrames(const CorvaneNodeId& node, FrameList& frames) override;
    bool getFramePaths(const CorvaneNodeId& node, StringList& paths) override;
    bool setFramePaths(const CorvaneNodeId& node, const StringList& paths, const CorvaneClipFormat& format) override;
    bool getClipFormat(const CorvaneNodeId& node, CorvaneClipFormat& format) override;
    bool getNbReadAheads(const CorvaneNodeId& node, int& count) override;
    bool getMetaData(const CorvaneNodeId& node, const char* stream, const char* filter, int depth,
                     std::string& data) override;
    bool setMetaData(const CorvaneNodeId& node, const char* stream, const char* data) override;
    bool queryMetaDataSupport(const CorvaneNodeId& node, StringList& streams) override;
    bool getStreamId(const CorvaneNodeId& node, CorvaneStr& streamId) override;

    // exType may be null or empty.
    virtual bool createNode(const CorvaneNodeId& parent, const char* displayName, int type, const char* exType,
                            const CorvaneClipFormat& format, CorvaneNodeId& node);
    virtual bool allocateFramesEx(const CorvaneNodeId& node, int count, const CorvaneClipFormat& format,
                                  FrameList& frames);
    virtual bool getFramesEx(const CorvaneNodeId& node, FrameList& frames);
    virtual bool getFramePathsEx(const CorvaneNodeId& node, StringList& paths);
    virtual bool setFramePathsEx(const CorvaneNodeId& node, const StringList& paths, const CorvaneClipFormat& format);
    // A server-level query: no node.
    virtual bool getStorageId(std::string& storageId);

    // Numbers the reply lacks are left unchanged.
    bool queryNodePlugInVersion(int& major, int& minor);
    bool queryNodePlugInProduct(std::string& product);
    bool queryNodePlugInVendor(std::string& vendor);
    // The name converted from UTF-8 to the process locale.
    bool getDisplayNameEx(const CorvaneNodeId& node, std::string& name);
    // The display name travels as UTF-8; an empty exType is not sent.
    bool createNodeEx(const CorvaneNodeId& parent, const char* displayName, int type, const char* exType,
                      const CorvaneClipFormat& format, CorvaneNodeId& node);
    // Display names converted from UTF-8 to the process locale. A malformed
    // entry fails the call; the children read before it stay in the list.
    bool getChildrenEx(const CorvaneNodeId& node, ChildList& children);

    CorvaneClientConnection* connection() const { return connection_; }

private:
    // Synchronous call with the encoders' time-out; throws on failure.
    void call(const char* method, const std::string& args, std::string& reply);

    CorvaneClientConnection* connection_;
};
