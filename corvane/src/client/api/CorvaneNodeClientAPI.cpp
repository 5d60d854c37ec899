#include "client/api/CorvaneNodeClientAPI.h"

#include <cassert>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/loggerBase/CoException.h"
#include "base/rcApi/rcAttrList.h"
#include "base/rcApi/rcAttrStream.h"
#include "base/rcApi/rcValue.h"
#include "client/api/CorvaneClientConnection.h"
#include "client/api/CorvaneClipFormat.h"
#include "client/api/CorvaneHostFacts.h"
#include "client/api/CorvaneLocale.h"
#include "client/api/CorvaneReplyDecoders.h"
#include "client/api/CorvaneStr.h"
#include "client/api/CorvaneTokenizer.h"

namespace {

// The OS type code of this host ("Linux").
constexpr int kLocalOsType = 2;
// Servers read the formatted heads of these arguments into fixed buffers.
constexpr size_t kShortArgsSize = 512;
constexpr size_t kArgsSize = 1024;

[[noreturn]] void throwText(const char* text) { throw Corvane::CoException(text, __LINE__, __FILE__); }

// Formats into a buffer of the server's size; a longer text would reach the
// server cut short, so it fails here instead.
std::string formatArgs(size_t size, const char* method, const char* fmt, ...) __attribute__((format(printf, 3, 4)));
std::string formatArgs(size_t size, const char* method, const char* fmt, ...) {
    std::string text(size, '\0');
    va_list args;
    va_start(args, fmt);
    const int n = std::vsnprintf(&text[0], size, fmt, args);
    va_end(args);
    if (n < 0 || static_cast<size_t>(n) >= size) {
        char message[128];
        std::snprintf(message, sizeof message, "Arguments of %s are too long.", method);
        throwText(message);
    }
    text.resize(static_cast<size_t>(n));
    return text;
}

// A node identifier with a blank travels quoted, any other bare.
std::string nodeArg(const CorvaneNodeId& node) {
    const char* id = node.getId();
    return std::strchr(id, ' ') ? Corvane::rcValue::quote(id) : std::string(id);
}

// The comma-separated replies of the older methods cannot carry a comma
// inside an identifier.
void checkNode(const CorvaneNodeId& node) {
    if (!std::strchr(node.getId(), ','))
        return;
    char message[128];
    std::snprintf(message, sizeof message, "Invalid node id: '%s'.", node.getId());
    throwText(message);
}

std::string clipStream(const CorvaneClipFormat& format) {
    Corvane::rcAttrStream stream;
    format.writeTo(stream);
    return stream.str();
}

void addHostFacts(Corvane::rcAttrStream& stream) {
    stream.addStringValue("HostName", getLocalHostName().c_str());
    stream.addIntValue("OSType", kLocalOsType);
    stream.addStringValue("OSVersion", getOSVersion());
}

// Appends each comma-separated token of reply to out, empty ones included.
template <typename List>
void appendCommaList(std::string& reply, List& out) {
    if (reply.empty())
        return;
    CorvaneTokenizer tokens(&reply[0], ',');
    while (const char* token = tokens.next())
        out.emplace_back(token);
}

// Appends the decoded string list to out; false when it does not decode.
template <typename List>
bool appendStringList(const std::string& reply, List& out) {
    std::vector<std::string> items;
    if (!Corvane::rcAttrList<std::string>(reply).decode(items))
        return false;
    for (const std::string& item : items)
        out.emplace_back(item.c_str());
    return true;
}

const char* orEmpty(const char* text) { return text ? text : ""; }

}  // namespace

CorvaneNodeClientAPI::CorvaneNodeClientAPI(CorvaneClientConnection* connection) : connection_(connection) {
    assert(connection_ && "connection_");
}

CorvaneNodeClientAPI::~CorvaneNodeClientAPI() = default;

void CorvaneNodeClientAPI::call(const char* method, const std::string& args, std::string& reply) {
    connection_->callMethod(method, args.c_str(), true, reply, CorvaneClientConnection::kCallTimeoutMs);
}

bool CorvaneNodeClientAPI::getRootNode(CorvaneNodeId& root) {
    return guarded([&] {
        std::string reply;
        call("GetRootNode", "", reply);
        root = CorvaneNodeId(reply.c_str());
        return true;
    });
}

bool CorvaneNodeClientAPI::getParentNode(const CorvaneNodeId& node, CorvaneNodeId& parent) {
    return guarded([&] {
        Corvane::rcAttrStream args;
        args.addStringValue("Node", node.getId());
        std::string reply;
        call("GetParentNode", args.str(), reply);
        parent = CorvaneNodeId(reply.c_str());
        return true;
    });
}

bool CorvaneNodeClientAPI::renameNode(CorvaneNodeId& node, const char* newName) {
    return guarded([&] {
        Corvane::rcAttrStream args;
        args.addStringValue("Node", node.getId());
        args.addStringValue("Displ", corvaneLocaleToUtf8(orEmpty(newName)));
        std::string reply;
        call("RenameNode", args.str(), reply);
        node = CorvaneNodeId(reply.c_str());
        return true;
    });
}

bool CorvaneNodeClientAPI::destroyNode(const CorvaneNodeId& node) {
    return guarded([&] {
        std::string reply;
        call("DestroyNode", nodeArg(node), reply);
        return true;
    });
}

bool CorvaneNodeClientAPI::getChildren(const CorvaneNodeId& node, ChildList& children) {
    return guarded([&] {
        checkNode(node);
        std::string reply;
        call("GetChildren", nodeArg(node), reply);
        children.clear();
        decodeChildren(reply, children);
        return true;
    });
}

bool CorvaneNodeClientAPI::getChildrenEx(const CorvaneNodeId& node, ChildList& children) {
    return guarded([&] {
        std::string reply;
        call("GetChildrenEx", node.getId(), reply);
        children.clear();
        if (!decodeChildrenEx(reply, children))
            return fail("Invalid children list");
        return true;
    });
}

bool CorvaneNodeClientAPI::getNodeType(const CorvaneNodeId& node, int& type, int& second) {
    return guarded([&] {
        std::string reply;
        call("GetNodeType", nodeArg(node), reply);
        std::sscanf(reply.c_str(), "%d %d", &type, &second);
        return true;
    });
}

bool CorvaneNodeClientAPI::getNodeTypeStr(const CorvaneNodeId& node, std::string& type) {
    return guarded([&] {
        std::string reply;
        call("GetNodeTypeStr", nodeArg(node), reply);
        type = std::move(reply);
        return true;
    });
}

bool CorvaneNodeClientAPI::getDisplayName(const CorvaneNodeId& node, std::string& name) {
    return guarded([&] {
        checkNode(node);
        std::string reply;
        call("GetDisplayName", nodeArg(node), reply);
        name = std::move(reply);
        return true;
    });
}

bool CorvaneNodeClientAPI::getDisplayNameEx(const CorvaneNodeId& node, std::string& name) {
    return guarded([&] {
        std::string reply;
        call("GetDisplayNameEx", node.getId(), reply);
        name = std::move(reply);
        corvaneUtf8ToLocale(name);
        return true;
    });
}

bool CorvaneNodeClientAPI::createNode(const CorvaneNodeId& parent, const char* displayName, int type,
                                      const char* exType, const CorvaneClipFormat& format, CorvaneNodeId& node) {
    return guarded([&] {
        checkNode(parent);
        std::string args = formatArgs(kArgsSize, "CreateNode", "%s %s %d %s ", nodeArg(parent).c_str(),
                                      Corvane::rcValue::quote(orEmpty(displayName)).c_str(), type, orEmpty(exType));
        args += format.toText();
        std::string reply;
        call("CreateNode", args, reply);
        node = CorvaneNodeId(reply.c_str());
        return true;
    });
}

bool CorvaneNodeClientAPI::createNodeEx(const CorvaneNodeId& parent, const char* displayName, int type,
                                        const char* exType, const CorvaneClipFormat& format, CorvaneNodeId& node) {
    return guarded([&] {
        Corvane::rcAttrStream args;
        args.addStringValue("Parent", parent.getId());
        args.addStringValue("Displ", corvaneLocaleToUtf8(orEmpty(displayName)));
        args.addIntValue("Type", type);
        if (exType && *exType)
            args.addStringValue("ExType", exType);
        args.addStringValue("Fmt", clipStream(format));
        std::string reply;
        call("CreateNodeEx", args.str(), reply);
        node = CorvaneNodeId(reply.c_str());
        return true;
    });
}

bool CorvaneNodeClientAPI::getMetaData(const CorvaneNodeId& node, const char* stream, const char* filter, int depth,
                                       std::string& data) {
    return guarded([&] {
        std::string args = nodeArg(node);
        args += ' ';
        args += orEmpty(stream);
        args += ' ';
        if (filter)
            args += std::strchr(filter, ' ') ? Corvane::rcValue::quote(filter) : std::string(filter);
        args += ' ';
        args += std::to_string(depth);
        std::string reply;
        call("GetMetaData", args, reply);
        data = std::move(reply);
        return true;
    });
}

bool CorvaneNodeClientAPI::setMetaData(const CorvaneNodeId& node, const char* stream, const char* data) {
    return guarded([&] {
        std::string args = nodeArg(node);
        args += ' ';
        args += orEmpty(stream);
        args += ' ';
        args += Corvane::rcValue::quote(orEmpty(data));
        std::string reply;
        call("SetMetaData", args, reply);
        return true;
    });
}

bool CorvaneNodeClientAPI::queryMetaDataSupport(const CorvaneNodeId& node, StringList& streams) {
    return guarded([&] {
        std::string reply;
        call("QueryMetaDataSupport", nodeArg(node), reply);
        streams.clear();
        appendCommaList(reply, streams);
        return true;
    });
}

bool CorvaneNodeClientAPI::getStreamId(const CorvaneNodeId& node, CorvaneStr& streamId) {
    return guarded([&] {
        std::string reply;
        call("GetStreamId", nodeArg(node), reply);
        streamId = reply.c_str();
        return true;
    });
}

bool CorvaneNodeClientAPI::getStorageId(std::string& storageId) {
    return guarded([&] {
        std::string reply;
        call("GetStorageId", "", reply);
        storageId = std::move(reply);
        return true;
    });
}

bool CorvaneNodeClientAPI::getClipFormat(const CorvaneNodeId& node, CorvaneClipFormat& format) {
    return guarded([&] {
        std::string reply;
        call("GetClipFormat", nodeArg(node), reply);
        // A reply too short to read leaves the format as it was.
        format.fromText(reply.c_str());
        return true;
    });
}

bool CorvaneNodeClientAPI::getNbReadAheads(const CorvaneNodeId& node, int& count) {
    return guarded([&] {
        std::string reply;
        call("GetNbReadAheads", nodeArg(node), reply);
        count = static_cast<int>(std::strtol(reply.c_str(), nullptr, 10));
        return true;
    });
}

bool CorvaneNodeClientAPI::getFrames(const CorvaneNodeId& node, FrameList& frames) {
    return guarded([&] {
        checkNode(node);
        std::string reply;
        call("GetFrames", nodeArg(node), reply);
        frames.clear();
        appendCommaList(reply, frames);
        return true;
    });
}

bool CorvaneNodeClientAPI::getFramesEx(const CorvaneNodeId& node, FrameList& frames) {
    return guarded([&] {
        Corvane::rcAttrStream args;
        args.addStringValue("Node", node.getId());
        std::string reply;
        call("GetFramesEx", args.str(), reply);
        frames.clear();
        if (!appendStringList(reply, frames))
            return fail("Invalid frame list");
        return true;
    });
}

bool CorvaneNodeClientAPI::allocateFrames(const CorvaneNodeId& node, int count, const CorvaneClipFormat& format,
                                          FrameList& frames) {
    return guarded([&] {
        checkNode(node);
        std::string args = formatArgs(kArgsSize, "AllocateFrames", "%s %d ", nodeArg(node).c_str(), count);
        args += format.toText();
        std::string reply;
        call("AllocateFrames", args, reply);
        appendCommaList(reply, frames);
        return true;
    });
}

bool CorvaneNodeClientAPI::allocateFramesEx(const CorvaneNodeId& node, int count, const CorvaneClipFormat& format,
                                            FrameList& frames) {
    return guarded([&] {
        Corvane::rcAttrStream args;
        args.addStringValue("Node", node.getId());
        args.addIntValue("NumFrames", count);
        args.addStringValue("Fmt", clipStream(format));
        std::string reply;
        call("AllocateFramesEx", args.str(), reply);
        if (!appendStringList(reply, frames))
            return fail("Invalid frame list");
        return true;
    });
}

bool CorvaneNodeClientAPI::getFramePaths(const CorvaneNodeId& node, StringList& paths) {
    return guarded([&] {
        checkNode(node);
        const std::string args = formatArgs(kShortArgsSize, "GetFramePaths", "%s %s %d \"%s\"", nodeArg(node).c_str(),
                                            getLocalHostName().c_str(), kLocalOsType, getOSVersion());
        std::string reply;
        call("GetFramePaths", args, reply);
        paths.clear();
        appendCommaList(reply, paths);
        return true;
    });
}

bool CorvaneNodeClientAPI::getFramePathsEx(const CorvaneNodeId& node, StringList& paths) {
    return guarded([&] {
        Corvane::rcAttrStream args;
        args.addStringValue("Parent", node.getId());
        addHostFacts(args);
        std::string reply;
        call("GetFramePathsEx", args.str(), reply);
        paths.clear();
        if (!appendStringList(reply, paths))
            return fail("Invalid file list");
        return true;
    });
}

bool CorvaneNodeClientAPI::setFramePaths(const CorvaneNodeId& node, const StringList& paths,
                                         const CorvaneClipFormat& format) {
    return guarded([&] {
        checkNode(node);
        std::string args = nodeArg(node);
        args += ' ';
        for (size_t i = 0; i < paths.size(); ++i) {
            if (i > 0)
                args += ',';
            args += paths[i];
        }
        args += formatArgs(kArgsSize, "SetFramePaths", " %s %d %s ", getLocalHostName().c_str(), kLocalOsType,
                           getOSVersion());
        args += format.toText();
        std::string reply;
        call("SetFramePaths", args, reply);
        return true;
    });
}

bool CorvaneNodeClientAPI::setFramePathsEx(const CorvaneNodeId& node, const StringList& paths,
                                           const CorvaneClipFormat& format) {
    return guarded([&] {
        Corvane::rcAttrStream args;
        args.addStringValue("Parent", node.getId());
        args.addStringValue("Paths", Corvane::rcAttrList<std::string>(paths).str());
        addHostFacts(args);
        args.addStringValue("Fmt", clipStream(format));
        std::string reply;
        call("SetFramePathsEx", args.str(), reply);
        return true;
    });
}

bool CorvaneNodeClientAPI::queryNodePlugInVersion(int& major, int& minor) {
    return guarded([&] {
        std::string reply;
        call("QueryNodePlugInVersion", "", reply);
        std::sscanf(reply.c_str(), "%d %d", &major, &minor);
        return true;
    });
}

bool CorvaneNodeClientAPI::queryNodePlugInProduct(std::string& product) {
    return guarded([&] {
        std::string reply;
        call("QueryNodePlugInProduct", "", reply);
        product = std::move(reply);
        return true;
    });
}

bool CorvaneNodeClientAPI::queryNodePlugInVendor(std::string& vendor) {
    return guarded([&] {
        std::string reply;
        call("QueryNodePlugInVendor", "", reply);
        vendor = std::move(reply);
        return true;
    });
}

void decodeChildren(std::string& reply, CorvaneNodeInterface::ChildList& children) {
    std::vector<std::string> tokens;
    appendCommaList(reply, tokens);
    // The reply pairs each display name with the identifier after it; a
    // last token without its partner is dropped.
    for (size_t i = 0; i + 1 < tokens.size(); i += 2)
        children.emplace_back(tokens[i + 1], tokens[i]);
}

bool decodeChildrenEx(const std::string& reply, CorvaneNodeInterface::ChildList& children) {
    if (reply.empty())
        return true;
    // One entry per child, each a nested stream; the entries' own names
    // carry nothing.
    const Corvane::rcAttrStream list(reply);
    Corvane::rcAttrStream::ConstIterator it(list);
    Corvane::rcAttrStream::Entry entry;
    while (it.next(entry)) {
        const Corvane::rcAttrStream child(std::string(entry.value, entry.valueLen));
        std::string id;
        std::string name;
        if (!child.getValue("Id", id) || !child.getValue("Displ", name))
            return false;
        corvaneUtf8ToLocale(name);
        children.emplace_back(std::move(id), std::move(name));
    }
    return true;
}
