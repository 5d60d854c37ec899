// Internal to corvane_sim.
// The stand-in server's node tree, kept in memory: folders, clips and other
// nodes, each with a display name, a type, ordered children, named metadata
// streams and, for clips, a clip format and a list of frames. Identifiers
// are paths ("/media/clip1") fixed when a node is made; renaming changes the
// display name only. Every failure comes back as false plus a sentence for
// the client. Not thread-safe: the server's one dispatching thread owns it.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "client/api/CorvaneClipFormat.h"

namespace CorvaneSim {

// Type numbers as "GetNodeType" reports them; any other type text is 0.
constexpr int kTypeNode = 0;
constexpr int kTypeFolder = 1;
constexpr int kTypeClip = 2;

struct SimFrame {
    std::string id;
    std::string path;
};

struct SimNode {
    std::string id;
    std::string parent;  // empty for the root
    std::string displayName;
    std::string typeText;
    int typeNumber = kTypeNode;
    unsigned serial = 0;  // unique per tree; names the node's stream and media
    std::vector<std::string> children;
    std::vector<std::pair<std::string, std::string>> streams;  // in order of creation
    CorvaneClipFormat format;
    std::vector<SimFrame> frames;
    unsigned nextFrame = 0;  // frame identifiers are never reused

    bool isClip() const { return typeText == "CLIP"; }
};

class SimTree {
public:
    static constexpr const char* kRootId = "/";
    // Bounds what one request may add, so that a bad count cannot eat memory.
    static constexpr int kMaxFramesPerCall = 100000;
    static constexpr size_t kMaxFramesPerClip = 1000000;

    // A tree holding the root folder "/" alone.
    SimTree();

    const SimNode* find(const std::string& id) const;
    size_t size() const { return nodes_.size(); }

    // Adds a node with a chosen identifier under the parent its path names
    // (the tree file's way). "/" itself is never added: use setRoot().
    bool addNode(const std::string& id, const std::string& typeText, const std::string& displayName,
                 std::string* error);
    void setRoot(const std::string& typeText, const std::string& displayName);

    // Makes a child of parent, naming it after the display name; the new
    // identifier goes to *id. An empty typeText takes the type number's
    // name. format applies to clips only.
    bool createChild(const std::string& parent, const std::string& displayName, int typeNumber,
                     const std::string& typeText, const CorvaneClipFormat& format, std::string* id, std::string* error);
    // Refuses the root and nodes that still have children.
    bool destroy(const std::string& id, std::string* error);
    bool rename(const std::string& id, const std::string& displayName, std::string* error);

    bool getMetaData(const std::string& id, const std::string& stream, std::string* text, std::string* error) const;
    // Creates the stream when it does not exist yet.
    bool setMetaData(const std::string& id, const std::string& stream, const std::string& text, std::string* error);

    // Clip operations; other nodes are refused.
    bool clipFormat(const std::string& id, CorvaneClipFormat* format, std::string* error) const;
    bool setClipFormat(const std::string& id, const CorvaneClipFormat& format, std::string* error);
    // Appends count frames with made-up media paths; their identifiers go to *ids.
    bool allocateFrames(const std::string& id, int count, const CorvaneClipFormat& format,
                        std::vector<std::string>* ids, std::string* error);
    // Replaces the frames by one frame per path.
    bool setFramePaths(const std::string& id, const std::vector<std::string>& paths, const CorvaneClipFormat& format,
                       std::string* error);
    bool frames(const std::string& id, std::vector<SimFrame>* out, std::string* error) const;

    // Lookup that fails with "Node '<id>' does not exist".
    const SimNode* require(const std::string& id, std::string* error) const;

    // An empty text when id is a well-formed absolute path without commas,
    // quotes, backslashes or control characters; else why not.
    static std::string checkNodeId(const std::string& id);
    static std::string checkStreamName(const std::string& name);
    static int typeNumberOf(const std::string& typeText);
    static const char* typeTextOf(int typeNumber);
    // The format a clip gets when nobody gave one: 1920x1080 progressive RGB at 25 frames a second.
    static CorvaneClipFormat defaultClipFormat();

private:
    SimNode* findMutable(const std::string& id);
    SimNode* requireClip(const std::string& id, std::string* error);
    const SimNode* requireClip(const std::string& id, std::string* error) const;
    SimNode& insert(SimNode node);
    std::string uniqueChildId(const std::string& parent, const std::string& displayName) const;
    void appendFrame(SimNode& node, const std::string& path);

    std::map<std::string, SimNode> nodes_;
    unsigned nextSerial_ = 0;
};

}  // namespace CorvaneSim
