#include "client/api/CorvaneNodeHandle.h"

#include <cassert>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "client/api/CorvaneClipFormat.h"
#include "client/api/CorvaneDaemonInfo.h"
#include "client/api/CorvaneFrameClientAPI.h"
#include "client/api/CorvaneNodeClientAPI.h"
#include "client/api/CorvaneNodeImp.h"
#include "client/api/CorvaneServerHandle.h"
#include "client/api/CorvaneServerImp.h"
#include "client/api/CorvaneStrList.h"

namespace {

// A server version, compared part by part: major, minor, maintenance, build.
struct Version {
    int major, minor, maint, build;
};

// Servers take node arguments in attribute streams and names in UTF-8
// ("CreateNodeEx", "GetChildrenEx", "GetDisplayNameEx") from here on.
constexpr Version kExtendedNodeMethods{2012, 0, 0, 5134};
// Frame lists as attribute streams, not comma lists ("GetFramesEx",
// "AllocateFramesEx").
constexpr Version kExtendedFrameLists{2013, 1, 0, 6115};
// Frame paths as attribute lists, so that a path may hold a comma.
constexpr Version kExtendedFramePaths{2012, 1, 1, 5758};
// The first servers that report a node's frame paths at all.
constexpr Version kFramePaths{2, 5, 0, 0};
// The first servers that link a node to existing media files.
constexpr Version kLinkMedia{2, 6, 0, 0};
// The first servers that store metadata a client writes.
constexpr Version kMetaDataWrite{2, 5, 0, 0};
// Older servers always read two frames ahead and cannot be asked.
constexpr Version kReadAheadQuery{2010, 1, 1, 0};
constexpr int kFixedReadAheads = 2;
// Older servers have no stream identifiers.
constexpr Version kStreamIds{2007, 1, 0, 0};

// One server operation on behalf of a node: the server connected, its node
// encoder, and (for version-dependent operations) a copy of its description.
struct Call {
    CorvaneServerImp* server = nullptr;
    CorvaneNodeClientAPI* api = nullptr;
    CorvaneDaemonInfo info;
    bool haveInfo = false;

    // Copies the encoder's reason into the server's last error.
    bool failed() { return server->fail(api->lastError()); }
    bool atLeast(const Version& v) const {
        return serverNotOlderThan(haveInfo ? &info : nullptr, v.major, v.minor, v.maint, v.build);
    }
};

bool begin(CorvaneNodeImp& imp, bool needsVersion, Call& call) {
    assert(imp.server_ && "a node without a server");
    call.server = imp.server_->imp();
    if (!call.server->connect())
        return false;
    call.api = call.server->nodeApi();
    if (!call.api)
        return false;
    if (needsVersion)
        call.haveInfo = call.server->getDaemonInfo(call.info);
    return !needsVersion || call.haveInfo;
}

// Reads one cached item of the node through a started call: op(call, out)
// asks the server and returns false on failure, whose reason it has left
// in the server's last error.
template <typename T, typename Op>
const T* cachedRead(CorvaneNodeImp& imp, CorvaneCached<T>& item, bool needsVersion, Op op) {
    // What was read stays cached, yet a stopped library answers nothing.
    if (!imp.server_->imp()->libraryReady())
        return nullptr;
    return item.get([&](T& out) {
        Call call;
        return begin(imp, needsVersion, call) && op(call, out);
    });
}

// The cached items several operations share.
const CorvaneNodeImp::NodeType* nodeType(CorvaneNodeImp& imp) {
    return cachedRead(imp, imp.type_, false, [&](Call& call, CorvaneNodeImp::NodeType& out) {
        int second = 0;
        return (call.api->getNodeType(imp.id_, out.number, second) && call.api->getNodeTypeStr(imp.id_, out.text)) ||
               call.failed();
    });
}

const CorvaneNodeInterface::ChildList* children(CorvaneNodeImp& imp) {
    return cachedRead(imp, imp.children_, true, [&](Call& call, CorvaneNodeInterface::ChildList& out) {
        const bool ok = call.atLeast(kExtendedNodeMethods) ? call.api->getChildrenEx(imp.id_, out)
                                                           : call.api->getChildren(imp.id_, out);
        return ok || call.failed();
    });
}

const CorvaneNodeInterface::StringList* metaDataStreams(CorvaneNodeImp& imp) {
    return cachedRead(imp, imp.streams_, false, [&](Call& call, CorvaneNodeInterface::StringList& out) {
        return call.api->queryMetaDataSupport(imp.id_, out) || call.failed();
    });
}

const CorvaneNodeInterface::FrameList* frames(CorvaneNodeImp& imp) {
    return cachedRead(imp, imp.frames_, true, [&](Call& call, CorvaneNodeInterface::FrameList& out) {
        const bool ok =
            call.atLeast(kExtendedFrameLists) ? call.api->getFramesEx(imp.id_, out) : call.api->getFrames(imp.id_, out);
        return ok || call.failed();
    });
}

const CorvaneNodeInterface::StringList* framePaths(CorvaneNodeImp& imp) {
    return cachedRead(imp, imp.framePaths_, true, [&](Call& call, CorvaneNodeInterface::StringList& out) {
        bool ok = true;
        // Older servers can not tell: the list stays empty.
        if (call.atLeast(kExtendedFramePaths))
            ok = call.api->getFramePathsEx(imp.id_, out);
        else if (call.atLeast(kFramePaths))
            ok = call.api->getFramePaths(imp.id_, out);
        return ok || call.failed();
    });
}

template <typename List, typename T>
bool indexInto(const List& list, int index, T& out) {
    if (index < 0 || index >= static_cast<int>(list.size()))
        return false;
    out = list[static_cast<size_t>(index)];
    return true;
}

}  // namespace

CorvaneNodeHandle::CorvaneNodeHandle()
    : imp_(std::make_unique<CorvaneNodeImp>(&CorvaneServerHandle::defaultServer(), CorvaneNodeId())) {}

CorvaneNodeHandle::CorvaneNodeHandle(CorvaneServerHandle& server, const char* nodeId)
    : imp_(std::make_unique<CorvaneNodeImp>(&server, CorvaneNodeId(nodeId))) {}

CorvaneNodeHandle::CorvaneNodeHandle(CorvaneServerHandle& server, const CorvaneNodeId& nodeId)
    : imp_(std::make_unique<CorvaneNodeImp>(&server, nodeId)) {}

CorvaneNodeHandle::CorvaneNodeHandle(const CorvaneNodeHandle& other)
    : imp_(std::make_unique<CorvaneNodeImp>(*other.imp_)) {}

CorvaneNodeHandle& CorvaneNodeHandle::operator=(const CorvaneNodeHandle& other) {
    if (this != &other)
        imp_ = std::make_unique<CorvaneNodeImp>(*other.imp_);
    return *this;
}

CorvaneNodeHandle::~CorvaneNodeHandle() = default;

CorvaneNodeId CorvaneNodeHandle::getNodeId() const { return imp_->id_; }

CorvaneServerHandle* CorvaneNodeHandle::getServer() const { return imp_->server_; }

void CorvaneNodeHandle::setServer(CorvaneServerHandle& server) {
    imp_ = std::make_unique<CorvaneNodeImp>(&server, imp_->id_);
}

const char* CorvaneNodeHandle::lastError() const {
    assert(imp_ != 0 && "imp_ != 0");
    return imp_->server_->lastError();
}

bool CorvaneNodeHandle::getRootNode(CorvaneNodeHandle& root) {
    Call call;
    if (!begin(*imp_, false, call))
        return false;
    CorvaneNodeId id;
    if (!call.api->getRootNode(id))
        return call.failed();
    root = CorvaneNodeHandle(*imp_->server_, id);
    return true;
}

bool CorvaneNodeHandle::getParentNode(CorvaneNodeHandle& parent) {
    const CorvaneNodeId* id = cachedRead(*imp_, imp_->parent_, false, [&](Call& call, CorvaneNodeId& out) {
        return call.api->getParentNode(imp_->id_, out) || call.failed();
    });
    if (!id)
        return false;
    parent = CorvaneNodeHandle(*imp_->server_, *id);
    return true;
}

bool CorvaneNodeHandle::getNodeTypeStr(CorvaneStr& type) {
    const CorvaneNodeImp::NodeType* read = nodeType(*imp_);
    if (!read)
        return false;
    type = read->text.c_str();
    return true;
}

bool CorvaneNodeHandle::getNodeType(int& type) {
    const CorvaneNodeImp::NodeType* read = nodeType(*imp_);
    if (!read)
        return false;
    type = read->number;
    return true;
}

bool CorvaneNodeHandle::getDisplayName(CorvaneStr& name) {
    const std::string* text = cachedRead(*imp_, imp_->displayName_, true, [&](Call& call, std::string& out) {
        const bool ok = call.atLeast(kExtendedNodeMethods) ? call.api->getDisplayNameEx(imp_->id_, out)
                                                           : call.api->getDisplayName(imp_->id_, out);
        return ok || call.failed();
    });
    if (!text)
        return false;
    name = text->c_str();
    return true;
}

bool CorvaneNodeHandle::rename(const char* newName) {
    Call call;
    if (!begin(*imp_, false, call))
        return false;
    CorvaneNodeId id = imp_->id_;
    if (!call.api->renameNode(id, newName))
        return call.failed();
    imp_->id_ = id;
    imp_->displayName_.markStale();
    return true;
}

bool CorvaneNodeHandle::getNumChildren(int& count) {
    const CorvaneNodeInterface::ChildList* list = children(*imp_);
    if (!list)
        return false;
    count = static_cast<int>(list->size());
    return true;
}

bool CorvaneNodeHandle::getChild(int index, CorvaneNodeHandle& child) {
    const CorvaneNodeInterface::ChildList* list = children(*imp_);
    if (!list)
        return false;
    std::pair<std::string, std::string> entry;
    if (!indexInto(*list, index, entry))
        return imp_->server_->imp()->fail("Child node index out of range");
    child = CorvaneNodeHandle(*imp_->server_, CorvaneNodeId(entry.first.c_str()));
    // The children list already told the child's name.
    child.imp_->displayName_.set(entry.second);
    return true;
}

bool CorvaneNodeHandle::findChild(const char* name, CorvaneNodeHandle& child) {
    const CorvaneNodeInterface::ChildList* list = children(*imp_);
    if (!list)
        return false;
    const std::string wanted = name ? name : "";
    for (size_t i = 0; i < list->size(); ++i)
        if ((*list)[i].second == wanted)
            return getChild(static_cast<int>(i), child);
    return imp_->server_->imp()->fail("No child node named '" + wanted + "'");
}

bool CorvaneNodeHandle::findNode(const char* path, CorvaneNodeHandle& node) {
    CorvaneNodeHandle current(*this);
    const std::string text = path ? path : "";
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t end = text.find('/', pos);
        const std::string component = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        pos = end == std::string::npos ? text.size() : end + 1;
        if (component.empty())
            continue;
        CorvaneNodeHandle next;
        if (!current.findChild(component.c_str(), next))
            return false;
        current = next;
    }
    node = current;
    return true;
}

bool CorvaneNodeHandle::createNode(const char* displayName, const char* type, CorvaneNodeHandle& child) {
    // A number is the server's type number; anything else names the type.
    const std::string text = type ? type : "";
    char* end = nullptr;
    const long number = std::strtol(text.c_str(), &end, 10);
    const bool numeric = !text.empty() && end && *end == '\0';
    return createNode(displayName, numeric ? static_cast<int>(number) : 0, numeric ? "" : text.c_str(),
                      CorvaneClipFormat(), child);
}

bool CorvaneNodeHandle::createNode(const char* displayName, int type, const char* exType,
                                   const CorvaneClipFormat& format, CorvaneNodeHandle& child) {
    Call call;
    if (!begin(*imp_, true, call))
        return false;
    CorvaneNodeId id;
    const bool ok = call.atLeast(kExtendedNodeMethods)
                        ? call.api->createNodeEx(imp_->id_, displayName, type, exType, format, id)
                        : call.api->createNode(imp_->id_, displayName, type, exType, format, id);
    if (!ok)
        return call.failed();
    imp_->children_.markStale();
    child = CorvaneNodeHandle(*imp_->server_, id);
    return true;
}

bool CorvaneNodeHandle::destroyNode() {
    Call call;
    if (!begin(*imp_, false, call))
        return false;
    if (!call.api->destroyNode(imp_->id_))
        return call.failed();
    imp_ = std::make_unique<CorvaneNodeImp>(imp_->server_, CorvaneNodeId());
    return true;
}

bool CorvaneNodeHandle::getMetaData(const char* stream, const char* filter, int depth, CorvaneStr& data) {
    Call call;
    if (!begin(*imp_, false, call))
        return false;
    std::string text;
    if (!call.api->getMetaData(imp_->id_, stream, filter, depth, text))
        return call.failed();
    data = text.c_str();
    return true;
}

bool CorvaneNodeHandle::setMetaData(const char* stream, const char* data) {
    Call call;
    if (!begin(*imp_, true, call))
        return false;
    if (!call.atLeast(kMetaDataWrite))
        return call.server->fail("Functionality not supported on remote Corvane server.");
    if (!call.api->setMetaData(imp_->id_, stream, data))
        return call.failed();
    imp_->streams_.markStale();
    return true;
}

bool CorvaneNodeHandle::getNumMetaDataStreams(int& count) {
    const CorvaneNodeInterface::StringList* streams = metaDataStreams(*imp_);
    if (!streams)
        return false;
    count = static_cast<int>(streams->size());
    return true;
}

bool CorvaneNodeHandle::getMetaDataStream(int index, CorvaneStr& name) {
    const CorvaneNodeInterface::StringList* streams = metaDataStreams(*imp_);
    if (!streams)
        return false;
    std::string text;
    if (!indexInto(*streams, index, text))
        return imp_->server_->imp()->fail("Metadata stream index out of range");
    name = text.c_str();
    return true;
}

bool CorvaneNodeHandle::isMetaDataStreamSupported(const char* name, bool& supported) {
    const CorvaneNodeInterface::StringList* streams = metaDataStreams(*imp_);
    if (!streams)
        return false;
    supported = false;
    for (const std::string& stream : *streams)
        supported = supported || (name && stream == name);
    return true;
}

bool CorvaneNodeHandle::getStreamId(CorvaneStr& streamId) {
    Call call;
    if (!begin(*imp_, true, call))
        return false;
    if (!call.atLeast(kStreamIds)) {
        streamId = "";
        return true;
    }
    return call.api->getStreamId(imp_->id_, streamId) || call.failed();
}

bool CorvaneNodeHandle::getClipFormat(CorvaneClipFormat& format) {
    const CorvaneClipFormat* read = cachedRead(
        *imp_, imp_->clipFormat_, false,
        [&](Call& call, CorvaneClipFormat& out) { return call.api->getClipFormat(imp_->id_, out) || call.failed(); });
    if (!read)
        return false;
    format = *read;
    return true;
}

bool CorvaneNodeHandle::getNbReadAheads(int& count) {
    const int* read = cachedRead(*imp_, imp_->readAheads_, true, [&](Call& call, int& out) {
        out = kFixedReadAheads;
        return !call.atLeast(kReadAheadQuery) || call.api->getNbReadAheads(imp_->id_, out) || call.failed();
    });
    if (!read)
        return false;
    count = *read;
    return true;
}

bool CorvaneNodeHandle::getNumFrames(int& count) {
    const CorvaneNodeInterface::FrameList* list = frames(*imp_);
    if (!list)
        return false;
    count = static_cast<int>(list->size());
    return true;
}

bool CorvaneNodeHandle::getFrame(int index, CorvaneFrameId& frame) {
    const CorvaneNodeInterface::FrameList* list = frames(*imp_);
    if (!list)
        return false;
    if (!indexInto(*list, index, frame))
        return imp_->server_->imp()->fail("Frame index out of range");
    return true;
}

bool CorvaneNodeHandle::allocateFrames(int count, const CorvaneClipFormat& format,
                                       std::vector<CorvaneFrameId>& frames) {
    Call call;
    if (!begin(*imp_, true, call))
        return false;
    const bool ok = call.atLeast(kExtendedFrameLists) ? call.api->allocateFramesEx(imp_->id_, count, format, frames)
                                                      : call.api->allocateFrames(imp_->id_, count, format, frames);
    if (!ok)
        return call.failed();
    imp_->frames_.markStale();
    imp_->framePaths_.markStale();
    return true;
}

bool CorvaneNodeHandle::getNumFramePaths(int& count) {
    const CorvaneNodeInterface::StringList* paths = framePaths(*imp_);
    if (!paths)
        return false;
    count = static_cast<int>(paths->size());
    return true;
}

bool CorvaneNodeHandle::getFramePath(int index, CorvaneStr& path) {
    const CorvaneNodeInterface::StringList* paths = framePaths(*imp_);
    if (!paths)
        return false;
    std::string text;
    if (!indexInto(*paths, index, text))
        return imp_->server_->imp()->fail("Frame index out of range");
    path = text.c_str();
    return true;
}

bool CorvaneNodeHandle::setFramePaths(const CorvaneStrList& paths, const CorvaneClipFormat& format) {
    Call call;
    if (!begin(*imp_, true, call))
        return false;
    CorvaneNodeInterface::StringList list;
    for (unsigned i = 0; i < paths.size(); ++i)
        list.push_back(paths.getStr(i));
    bool ok;
    if (call.atLeast(kExtendedFramePaths))
        ok = call.api->setFramePathsEx(imp_->id_, list, format);
    else if (call.atLeast(kLinkMedia))
        ok = call.api->setFramePaths(imp_->id_, list, format);
    else
        return call.server->fail("Server does not support linking to existing media files.");
    if (!ok)
        return call.failed();
    imp_->frames_.markStale();
    imp_->framePaths_.markStale();
    imp_->clipFormat_.markStale();
    return true;
}

bool CorvaneNodeHandle::readFrame(const CorvaneFrameId& frame, void* buffer, size_t sizeBytes,
                                  const CorvaneFrameReadOptions& options) {
    // The frame channel carries an int buffer size and an unsigned int
    // parameter size; a larger one would arrive cut, so it never leaves.
    constexpr uint64_t kMaxParamsBytes = UINT_MAX;
    if (sizeBytes > static_cast<size_t>(INT_MAX))
        return imp_->server_->imp()->fail("Frame buffer of " + std::to_string(sizeBytes) +
                                          " bytes is too large: at most " + std::to_string(INT_MAX));
    if (static_cast<uint64_t>(options.paramsBytes) > kMaxParamsBytes)
        return imp_->server_->imp()->fail("Frame parameter block of " + std::to_string(options.paramsBytes) +
                                          " bytes is too large: at most " + std::to_string(kMaxParamsBytes));
    return imp_->server_->imp()->frameOperation([&](CorvaneFrameClientAPI& frames) {
        frames.readFrame(frame.getId(), static_cast<char*>(buffer), static_cast<int>(sizeBytes), options.params,
                         static_cast<unsigned int>(options.paramsBytes), options.readAhead[0].getId(),
                         options.readAhead[1].getId(), options.noAck);
    });
}

bool CorvaneNodeHandle::writeFrame(const CorvaneFrameId& frame, const void* data, size_t sizeBytes) {
    return imp_->server_->imp()->frameOperation(
        [&](CorvaneFrameClientAPI& frames) { frames.writeFrame(frame.getId(), data, sizeBytes); });
}

bool CorvaneNodeHandle::readStream(void* buffer, size_t sizeBytes, int64_t position, size_t elementBytes, int& count) {
    const std::string* streamId = imp_->streamId_.get([&](std::string& out) {
        CorvaneStr id;
        if (!getStreamId(id))
            return false;
        out = id.c_str();
        return true;
    });
    if (!streamId)
        return false;
    int64_t n = count;
    if (!imp_->server_->imp()->frameOperation([&](CorvaneFrameClientAPI& frames) {
            frames.readStream(streamId->c_str(), static_cast<char*>(buffer), sizeBytes, position, elementBytes, &n);
        }))
        return false;
    count = n > INT_MAX ? INT_MAX : static_cast<int>(n);
    return true;
}
