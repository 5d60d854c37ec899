// The node methods of SimService.
#include <cstdio>

#include "base/rcApi/rcAttrList.h"
#include "base/rcApi/rcAttrStream.h"
#include "sim/SimArgs.h"
#include "sim/SimEvents.h"
#include "sim/SimService.h"

namespace CorvaneSim {

namespace {

constexpr int kReadAheads = 2;
constexpr int kPlugInMajor = 1;
constexpr int kPlugInMinor = 0;

// The older list replies separate items by commas and cannot carry one.
std::string commaFree(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        if (c == ',')
            c = '_';
    }
    return out;
}

// Tells the clients that asked for node's events (or its ancestors') that
// it changed.
bool notify(const std::string& node, const char* type, const SimEvents::Details& details = SimEvents::Details()) {
    if (SimEvents* events = SimEvents::current())
        events->changed(node, type, details);
    return true;
}

std::string commaList(const std::vector<std::string>& items) {
    std::string out;
    for (size_t i = 0; i < items.size(); ++i) {
        if (i > 0)
            out += ',';
        out += items[i];
    }
    return out;
}

std::vector<std::string> frameIds(const std::vector<SimFrame>& frames) {
    std::vector<std::string> ids;
    for (const SimFrame& f : frames)
        ids.push_back(f.id);
    return ids;
}

std::vector<std::string> framePaths(const std::vector<SimFrame>& frames) {
    std::vector<std::string> paths;
    for (const SimFrame& f : frames)
        paths.push_back(f.path);
    return paths;
}

std::string splitFreeList(const std::vector<std::string>& items) {
    return Corvane::rcAttrList<std::string>(items).str();
}

}  // namespace

bool SimService::getRootNode(const std::string&, std::string* reply) {
    *reply = SimTree::kRootId;
    return true;
}

bool SimService::getParentNode(const std::string& args, std::string* reply) {
    const Corvane::rcAttrStream stream(args);
    std::string id, why;
    if (!requireString(stream, "Node", &id, &why))
        return malformed(why, reply);
    const SimNode* node = tree_.require(id, reply);
    if (!node)
        return false;
    if (node->parent.empty()) {
        *reply = "The root node '" + id + "' has no parent";
        return false;
    }
    *reply = node->parent;
    return true;
}

bool SimService::renameNode(const std::string& args, std::string* reply) {
    const Corvane::rcAttrStream stream(args);
    std::string id, name, why;
    if (!requireString(stream, "Node", &id, &why) || !requireString(stream, "Displ", &name, &why))
        return malformed(why, reply);
    if (!tree_.rename(id, name, reply))
        return false;
    *reply = id;  // identifiers survive a rename
    return notify(id, "NodeRenamed", {{"Name", name}});
}

bool SimService::destroyNode(const std::string& args, std::string* reply) {
    const SimNode* node = wholeNode(args, reply);
    if (!node)
        return false;
    const std::string id = node->id;
    if (!tree_.destroy(id, reply))
        return false;
    reply->clear();
    return notify(id, "NodeDestroyed");
}

bool SimService::getChildren(const std::string& args, std::string* reply) {
    const SimNode* node = wholeNode(args, reply);
    if (!node)
        return false;
    // Display name first, identifier second: the client swaps each pair.
    std::vector<std::string> items;
    for (const std::string& childId : childrenOf(*node)) {
        items.push_back(commaFree(tree_.find(childId)->displayName));
        items.push_back(childId);
    }
    *reply = commaList(items);
    return true;
}

bool SimService::getChildrenEx(const std::string& args, std::string* reply) {
    // The identifier comes unquoted, blanks and all.
    const SimNode* node = tree_.require(args, reply);
    if (!node)
        return false;
    Corvane::rcAttrStream list;
    int i = 0;
    for (const std::string& childId : childrenOf(*node)) {
        Corvane::rcAttrStream child;
        child.addStringValue("Id", childId);
        child.addStringValue("Displ", tree_.find(childId)->displayName);
        list.appendStringValue(std::to_string(i++).c_str(), child.str());
    }
    *reply = list.str();
    return true;
}

bool SimService::getNodeType(const std::string& args, std::string* reply) {
    const SimNode* node = wholeNode(args, reply);
    if (!node)
        return false;
    // The second number is the child count.
    *reply = std::to_string(node->typeNumber) + " " + std::to_string(childrenOf(*node).size());
    return true;
}

bool SimService::getNodeTypeStr(const std::string& args, std::string* reply) {
    const SimNode* node = wholeNode(args, reply);
    if (!node)
        return false;
    *reply = node->typeText;
    return true;
}

bool SimService::getDisplayName(const std::string& args, std::string* reply) {
    const SimNode* node = wholeNode(args, reply);
    if (!node)
        return false;
    *reply = node->displayName;
    return true;
}

bool SimService::getDisplayNameEx(const std::string& args, std::string* reply) {
    const SimNode* node = tree_.require(args, reply);
    if (!node)
        return false;
    *reply = node->displayName;
    return true;
}

bool SimService::createNode(const std::string& args, std::string* reply) {
    SimArgScanner scan(args);
    std::string parent, name, exType;
    int type = 0;
    CorvaneClipFormat format;
    if (!scan.node(&parent) || !scan.blank() || !scan.quoted(&name) || !scan.blank() || !scan.integer(&type) ||
        !scan.blank() || !scan.word(&exType) || !scan.blank() || !scan.clipText(&format))
        return malformed(scan.why(), reply);
    return tree_.createChild(parent, name, type, exType, format, reply, reply) && notify(*reply, "NodeCreated");
}

bool SimService::createNodeEx(const std::string& args, std::string* reply) {
    const Corvane::rcAttrStream stream(args);
    std::string parent, name, exType, why;
    int type = 0;
    CorvaneClipFormat format;
    if (!requireString(stream, "Parent", &parent, &why) || !requireString(stream, "Displ", &name, &why) ||
        !requireInt(stream, "Type", &type, &why) || !requireClipStream(stream, "Fmt", &format, &why))
        return malformed(why, reply);
    stream.getValue("ExType", exType);  // sent only when there is one
    return tree_.createChild(parent, name, type, exType, format, reply, reply) && notify(*reply, "NodeCreated");
}

bool SimService::getMetaData(const std::string& args, std::string* reply) {
    SimArgScanner scan(args);
    std::string id, stream, filter;
    int depth = 0;
    // The filter and the depth are accepted and not applied: a stream is
    // answered with its whole text.
    if (!scan.node(&id) || !scan.blank() || !scan.word(&stream) || !scan.blank() || !scan.quoted(&filter) ||
        !scan.blank() || !scan.integer(&depth) || !scan.atEnd())
        return malformed(scan.why().empty() ? "the end of the text after the depth" : scan.why(), reply);
    return tree_.getMetaData(id, stream, reply, reply);
}

bool SimService::setMetaData(const std::string& args, std::string* reply) {
    SimArgScanner scan(args);
    std::string id, stream, text;
    if (!scan.node(&id) || !scan.blank() || !scan.word(&stream) || !scan.blank() || !scan.quoted(&text) ||
        !scan.atEnd())
        return malformed(scan.why().empty() ? "the end of the text after the metadata" : scan.why(), reply);
    return tree_.setMetaData(id, stream, text, reply) && notify(id, "MetaDataChanged", {{"Stream", stream}});
}

bool SimService::queryMetaDataSupport(const std::string& args, std::string* reply) {
    const SimNode* node = wholeNode(args, reply);
    if (!node)
        return false;
    std::vector<std::string> names;
    for (const auto& s : node->streams)
        names.push_back(s.first);
    *reply = commaList(names);
    return true;
}

bool SimService::getStreamId(const std::string& args, std::string* reply) {
    const SimNode* node = wholeNode(args, reply);
    if (!node)
        return false;
    *reply = "corvane-sim-stream-" + std::to_string(node->serial);
    return true;
}

bool SimService::getStorageId(const std::string&, std::string* reply) {
    *reply = info_.getStorageId();
    return true;
}

bool SimService::getClipFormat(const std::string& args, std::string* reply) {
    const SimNode* node = wholeNode(args, reply);
    CorvaneClipFormat format;
    if (!node || !tree_.clipFormat(node->id, &format, reply))
        return false;
    *reply = clipReplyText(format);
    return true;
}

bool SimService::getNbReadAheads(const std::string& args, std::string* reply) {
    if (!wholeNode(args, reply))
        return false;
    *reply = std::to_string(kReadAheads);
    return true;
}

bool SimService::getFrames(const std::string& args, std::string* reply) {
    const SimNode* node = wholeNode(args, reply);
    std::vector<SimFrame> frames;
    if (!node || !tree_.frames(node->id, &frames, reply))
        return false;
    *reply = commaList(frameIds(frames));
    return true;
}

bool SimService::getFramesEx(const std::string& args, std::string* reply) {
    const Corvane::rcAttrStream stream(args);
    std::string id, why;
    if (!requireString(stream, "Node", &id, &why))
        return malformed(why, reply);
    std::vector<SimFrame> frames;
    if (!tree_.frames(id, &frames, reply))
        return false;
    *reply = splitFreeList(frameIds(frames));
    return true;
}

bool SimService::allocateFrames(const std::string& args, std::string* reply) {
    SimArgScanner scan(args);
    std::string id;
    int count = 0;
    CorvaneClipFormat format;
    if (!scan.node(&id) || !scan.blank() || !scan.integer(&count) || !scan.blank() || !scan.clipText(&format))
        return malformed(scan.why(), reply);
    std::vector<std::string> ids;
    if (!tree_.allocateFrames(id, count, format, &ids, reply))
        return false;
    *reply = commaList(ids);
    return notify(id, "FramesChanged");
}

bool SimService::allocateFramesEx(const std::string& args, std::string* reply) {
    const Corvane::rcAttrStream stream(args);
    std::string id, why;
    int count = 0;
    CorvaneClipFormat format;
    if (!requireString(stream, "Node", &id, &why) || !requireInt(stream, "NumFrames", &count, &why) ||
        !requireClipStream(stream, "Fmt", &format, &why))
        return malformed(why, reply);
    std::vector<std::string> ids;
    if (!tree_.allocateFrames(id, count, format, &ids, reply))
        return false;
    *reply = splitFreeList(ids);
    return notify(id, "FramesChanged");
}

bool SimService::getFramePaths(const std::string& args, std::string* reply) {
    SimArgScanner scan(args);
    std::string id, host, osVersion;
    int osType = 0;
    // The asking host's facts are read and not used: paths are the same everywhere.
    if (!scan.node(&id) || !scan.blank() || !scan.word(&host) || !scan.blank() || !scan.integer(&osType) ||
        !scan.blank() || !scan.literalQuoted(&osVersion) || !scan.atEnd())
        return malformed(scan.why().empty() ? "the end of the text after the OS version" : scan.why(), reply);
    std::vector<SimFrame> frames;
    if (!tree_.frames(id, &frames, reply))
        return false;
    *reply = commaList(framePaths(frames));
    return true;
}

bool SimService::getFramePathsEx(const std::string& args, std::string* reply) {
    const Corvane::rcAttrStream stream(args);
    std::string id, host, osVersion, why;
    int osType = 0;
    if (!requireString(stream, "Parent", &id, &why) || !requireString(stream, "HostName", &host, &why) ||
        !requireInt(stream, "OSType", &osType, &why) || !requireString(stream, "OSVersion", &osVersion, &why))
        return malformed(why, reply);
    std::vector<SimFrame> frames;
    if (!tree_.frames(id, &frames, reply))
        return false;
    *reply = splitFreeList(framePaths(frames));
    return true;
}

bool SimService::setFramePaths(const std::string& args, std::string* reply) {
    SimArgScanner scan(args);
    std::string id, joined, host, osVersion;
    int osType = 0;
    CorvaneClipFormat format;
    // Paths in this form are joined by commas and end at a blank, so they
    // can hold neither.
    if (!scan.node(&id) || !scan.blank() || !scan.word(&joined) || !scan.blank() || !scan.word(&host) ||
        !scan.blank() || !scan.integer(&osType) || !scan.blank() || !scan.word(&osVersion) || !scan.blank() ||
        !scan.clipText(&format))
        return malformed(scan.why(), reply);
    std::vector<std::string> paths;
    size_t start = 0;
    while (!joined.empty()) {
        const size_t comma = joined.find(',', start);
        paths.push_back(joined.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return tree_.setFramePaths(id, paths, format, reply) && notify(id, "FramesChanged");
}

bool SimService::setFramePathsEx(const std::string& args, std::string* reply) {
    const Corvane::rcAttrStream stream(args);
    std::string id, pathText, host, osVersion, why;
    int osType = 0;
    CorvaneClipFormat format;
    if (!requireString(stream, "Parent", &id, &why) || !requireString(stream, "Paths", &pathText, &why) ||
        !requireString(stream, "HostName", &host, &why) || !requireInt(stream, "OSType", &osType, &why) ||
        !requireString(stream, "OSVersion", &osVersion, &why) || !requireClipStream(stream, "Fmt", &format, &why))
        return malformed(why, reply);
    std::vector<std::string> paths;
    // An empty list encodes as a count of 0, which the list reader refuses.
    if (!Corvane::rcAttrList<std::string>(pathText).decode(paths) &&
        pathText != Corvane::rcAttrList<std::string>(std::vector<std::string>()).str())
        return malformed("a list of paths in 'Paths'", reply);
    return tree_.setFramePaths(id, paths, format, reply) && notify(id, "FramesChanged");
}

bool SimService::queryNodePlugInVersion(const std::string&, std::string* reply) {
    *reply = std::to_string(kPlugInMajor) + " " + std::to_string(kPlugInMinor);
    return true;
}

bool SimService::queryNodePlugInProduct(const std::string&, std::string* reply) {
    *reply = kProduct;
    return true;
}

bool SimService::queryNodePlugInVendor(const std::string&, std::string* reply) {
    *reply = kVendor;
    return true;
}

}  // namespace CorvaneSim
