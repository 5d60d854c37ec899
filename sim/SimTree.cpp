#include "sim/SimTree.h"

#include <cstdio>

namespace CorvaneSim {

namespace {

std::string quoted(const std::string& text) { return "'" + text + "'"; }

std::string noSuchNode(const std::string& id) { return "Node " + quoted(id) + " does not exist"; }

bool fail(std::string* error, const std::string& text) {
    *error = text;
    return false;
}

bool isControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }

// What a display name becomes inside an identifier: one path component
// that the client can send bare or quoted and list between commas.
std::string idComponent(const std::string& displayName) {
    std::string out = displayName;
    for (char& c : out) {
        if (c == ',' || c == '"' || c == '\\' || c == '/' || isControl(c))
            c = '_';
    }
    return out;
}

}  // namespace

SimTree::SimTree() {
    SimNode root;
    root.id = kRootId;
    insert(root);
    setRoot("FOLDER", "Root");
}

const SimNode* SimTree::find(const std::string& id) const {
    const auto it = nodes_.find(id);
    return it == nodes_.end() ? nullptr : &it->second;
}

SimNode* SimTree::findMutable(const std::string& id) {
    const auto it = nodes_.find(id);
    return it == nodes_.end() ? nullptr : &it->second;
}

const SimNode* SimTree::require(const std::string& id, std::string* error) const {
    const SimNode* node = find(id);
    if (!node)
        *error = noSuchNode(id);
    return node;
}

SimNode& SimTree::insert(SimNode node) {
    node.serial = nextSerial_++;
    const std::string id = node.id;
    return nodes_[id] = std::move(node);
}

void SimTree::setRoot(const std::string& typeText, const std::string& displayName) {
    SimNode& root = nodes_[kRootId];
    root.typeText = typeText;
    root.typeNumber = typeNumberOf(typeText);
    root.displayName = displayName;
}

bool SimTree::addNode(const std::string& id, const std::string& typeText, const std::string& displayName,
                      std::string* error) {
    const std::string why = checkNodeId(id);
    if (!why.empty())
        return fail(error, "Invalid node id " + quoted(id) + ": " + why);
    if (find(id))
        return fail(error, "Node " + quoted(id) + " already exists");
    const size_t slash = id.rfind('/');
    const std::string parentId = slash == 0 ? std::string(kRootId) : id.substr(0, slash);
    SimNode* parent = findMutable(parentId);
    if (!parent)
        return fail(error, "Parent " + quoted(parentId) + " of " + quoted(id) + " does not exist");
    if (parent->isClip())
        return fail(error, "Node " + quoted(parentId) + " is a clip and cannot have children");

    SimNode node;
    node.id = id;
    node.parent = parentId;
    node.typeText = typeText;
    node.typeNumber = typeNumberOf(typeText);
    node.displayName = displayName.empty() ? id.substr(slash + 1) : displayName;
    if (node.isClip())
        node.format = defaultClipFormat();
    parent->children.push_back(id);  // parent stays valid: std::map never moves its nodes
    insert(std::move(node));
    return true;
}

std::string SimTree::uniqueChildId(const std::string& parent, const std::string& displayName) const {
    const std::string base = (parent == kRootId ? std::string() : parent) + "/" + idComponent(displayName);
    if (!find(base))
        return base;
    // At most size() + 1 candidates can be taken.
    for (size_t n = 2;; ++n) {
        const std::string candidate = base + "~" + std::to_string(n);
        if (!find(candidate))
            return candidate;
    }
}

bool SimTree::createChild(const std::string& parentId, const std::string& displayName, int typeNumber,
                          const std::string& typeText, const CorvaneClipFormat& format, std::string* id,
                          std::string* error) {
    SimNode* parent = findMutable(parentId);
    if (!parent)
        return fail(error, noSuchNode(parentId));
    if (parent->isClip())
        return fail(error, "Node " + quoted(parentId) + " is a clip and cannot have children");
    if (displayName.empty())
        return fail(error, "Display name must not be empty");

    SimNode node;
    node.id = uniqueChildId(parentId, displayName);
    node.parent = parentId;
    node.displayName = displayName;
    node.typeText = typeText.empty() ? typeTextOf(typeNumber) : typeText;
    node.typeNumber = typeNumber != kTypeNode ? typeNumber : typeNumberOf(node.typeText);
    if (node.isClip())
        node.format = format;
    parent->children.push_back(node.id);
    *id = node.id;
    insert(std::move(node));
    return true;
}

bool SimTree::destroy(const std::string& id, std::string* error) {
    const SimNode* node = require(id, error);
    if (!node)
        return false;
    if (node->parent.empty())
        return fail(error, "The root node " + quoted(id) + " cannot be destroyed");
    if (!node->children.empty()) {
        const size_t n = node->children.size();
        return fail(error,
                    "Node " + quoted(id) + " still has " + std::to_string(n) + (n == 1 ? " child" : " children"));
    }
    std::vector<std::string>& siblings = nodes_[node->parent].children;
    for (auto it = siblings.begin(); it != siblings.end(); ++it) {
        if (*it == id) {
            siblings.erase(it);
            break;
        }
    }
    nodes_.erase(id);
    return true;
}

bool SimTree::rename(const std::string& id, const std::string& displayName, std::string* error) {
    SimNode* node = findMutable(id);
    if (!node)
        return fail(error, noSuchNode(id));
    if (displayName.empty())
        return fail(error, "Display name must not be empty");
    node->displayName = displayName;
    return true;
}

bool SimTree::getMetaData(const std::string& id, const std::string& stream, std::string* text,
                          std::string* error) const {
    const SimNode* node = require(id, error);
    if (!node)
        return false;
    for (const auto& s : node->streams) {
        if (s.first == stream) {
            *text = s.second;
            return true;
        }
    }
    return fail(error, "Node " + quoted(id) + " has no metadata stream " + quoted(stream));
}

bool SimTree::setMetaData(const std::string& id, const std::string& stream, const std::string& text,
                          std::string* error) {
    SimNode* node = findMutable(id);
    if (!node)
        return fail(error, noSuchNode(id));
    const std::string why = checkStreamName(stream);
    if (!why.empty())
        return fail(error, "Invalid metadata stream name " + quoted(stream) + ": " + why);
    for (auto& s : node->streams) {
        if (s.first == stream) {
            s.second = text;
            return true;
        }
    }
    node->streams.emplace_back(stream, text);
    return true;
}

SimNode* SimTree::requireClip(const std::string& id, std::string* error) {
    SimNode* node = findMutable(id);
    if (!node) {
        *error = noSuchNode(id);
        return nullptr;
    }
    if (!node->isClip()) {
        *error = "Node " + quoted(id) + " is not a clip";
        return nullptr;
    }
    return node;
}

const SimNode* SimTree::requireClip(const std::string& id, std::string* error) const {
    return const_cast<SimTree*>(this)->requireClip(id, error);
}

bool SimTree::clipFormat(const std::string& id, CorvaneClipFormat* format, std::string* error) const {
    const SimNode* node = requireClip(id, error);
    if (node)
        *format = node->format;
    return node != nullptr;
}

bool SimTree::setClipFormat(const std::string& id, const CorvaneClipFormat& format, std::string* error) {
    SimNode* node = requireClip(id, error);
    if (node)
        node->format = format;
    return node != nullptr;
}

void SimTree::appendFrame(SimNode& node, const std::string& path) {
    SimFrame frame;
    frame.id = node.id + "#" + std::to_string(node.nextFrame++);
    frame.path = path;
    node.frames.push_back(std::move(frame));
}

bool SimTree::allocateFrames(const std::string& id, int count, const CorvaneClipFormat& format,
                             std::vector<std::string>* ids, std::string* error) {
    SimNode* node = requireClip(id, error);
    if (!node)
        return false;
    if (count <= 0 || count > kMaxFramesPerCall)
        return fail(error,
                    "Frame count " + std::to_string(count) + " is outside 1 to " + std::to_string(kMaxFramesPerCall));
    if (node->frames.size() + static_cast<size_t>(count) > kMaxFramesPerClip)
        return fail(error,
                    "Clip " + quoted(id) + " would have more than " + std::to_string(kMaxFramesPerClip) + " frames");
    node->format = format;
    for (int i = 0; i < count; ++i) {
        char path[96];
        std::snprintf(path, sizeof path, "/corvane-sim/media/clip-%u/frame-%06u", node->serial, node->nextFrame);
        appendFrame(*node, path);
        ids->push_back(node->frames.back().id);
    }
    return true;
}

bool SimTree::setFramePaths(const std::string& id, const std::vector<std::string>& paths,
                            const CorvaneClipFormat& format, std::string* error) {
    SimNode* node = requireClip(id, error);
    if (!node)
        return false;
    if (paths.size() > kMaxFramesPerClip)
        return fail(error,
                    "Clip " + quoted(id) + " would have more than " + std::to_string(kMaxFramesPerClip) + " frames");
    node->format = format;
    node->frames.clear();
    for (const std::string& path : paths)
        appendFrame(*node, path);
    return true;
}

bool SimTree::frames(const std::string& id, std::vector<SimFrame>* out, std::string* error) const {
    const SimNode* node = requireClip(id, error);
    if (node)
        *out = node->frames;
    return node != nullptr;
}

std::string SimTree::checkNodeId(const std::string& id) {
    if (id.empty() || id[0] != '/')
        return "it must start with '/'";
    if (id == kRootId)
        return std::string();
    if (id.back() == '/')
        return "it must not end with '/'";
    if (id.find("//") != std::string::npos)
        return "it has an empty path component";
    for (char c : id) {
        if (c == ',' || c == '"' || c == '\\')
            return std::string("it must not contain '") + c + "'";
        if (isControl(c))
            return "it must not contain control characters";
    }
    return std::string();
}

std::string SimTree::checkStreamName(const std::string& name) {
    if (name.empty())
        return "it is empty";
    if (name.size() > 255)
        return "it is longer than 255 bytes";
    for (char c : name) {
        if (c == ' ' || c == ',' || c == '"' || c == '\\' || isControl(c))
            return "it must not contain blanks, commas, quotes, backslashes or control characters";
    }
    return std::string();
}

int SimTree::typeNumberOf(const std::string& typeText) {
    if (typeText == "FOLDER")
        return kTypeFolder;
    if (typeText == "CLIP")
        return kTypeClip;
    return kTypeNode;
}

const char* SimTree::typeTextOf(int typeNumber) {
    switch (typeNumber) {
        case kTypeFolder:
            return "FOLDER";
        case kTypeClip:
            return "CLIP";
        default:
            return "NODE";
    }
}

CorvaneClipFormat SimTree::defaultClipFormat() {
    return CorvaneClipFormat(1920, 1080, 24, 3, 1920 * 1080 * 3, 25.0f, 1.0f, 4, "rgb", "none", "");
}

}  // namespace CorvaneSim
