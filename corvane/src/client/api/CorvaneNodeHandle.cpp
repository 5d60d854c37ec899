#include "client/api/CorvaneNodeHandle.h"

#include <cassert>
#include <cctype>
#include <climits>
#include <cstdlib>
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

// One server operation on behalf of a node: the server connected, its node
// encoder, and (for version-dependent operations) a copy of its description.
struct Call {
    CorvaneServerImp* server = nullptr;
    CorvaneNodeClientAPI* api = nullptr;
    CorvaneDaemonInfo info;
    bool haveInfo = false;

    // Copies the encoder's reason into the server's last error.
    bool failed() { return server->fail(api->lastError()); }
    bool atLeast(int major, int minor, int maint, int build) const {
        return serverNotOlderThan(haveInfo ? &info : nullptr, major, minor, maint, build);
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

template <typename List, typename T>
bool indexInto(const List& list, int index, T& out) {
    if (index < 0 || index >= static_cast<int>(list.size()))
        return false;
    out = list[static_cast<size_t>(index)];
    return true;
}

}  // namespace

CorvaneNodeHandle::CorvaneNodeHandle()
    : imp_(new CorvaneNodeImp(&CorvaneServerHandle::defaultServer(), CorvaneNodeId())) {}

CorvaneNodeHandle::CorvaneNodeHandle(CorvaneServerHandle& server, const char* nodeId)
    : imp_(new CorvaneNodeImp(&server, CorvaneNodeId(nodeId))) {}

CorvaneNodeHandle::CorvaneNodeHandle(CorvaneServerHandle& server, const CorvaneNodeId& nodeId)
    : imp_(new CorvaneNodeImp(&server, nodeId)) {}

CorvaneNodeHandle::CorvaneNodeHandle(const CorvaneNodeHandle& other) : imp_(new CorvaneNodeImp(*other.imp_)) {}

CorvaneNodeHandle& CorvaneNodeHandle::operator=(const CorvaneNodeHandle& other) {
    if (this != &other)
        imp_.reset(new CorvaneNodeImp(*other.imp_));
    return *this;
}

CorvaneNodeHandle::~CorvaneNodeHandle() = default;

CorvaneNodeId CorvaneNodeHandle::getNodeId() const { return imp_->id_; }

CorvaneServerHandle* CorvaneNodeHandle::getServer() const { return imp_->server_; }

void CorvaneNodeHandle::setServer(CorvaneServerHandle& server) { imp_.reset(new CorvaneNodeImp(&server, imp_->id_)); }

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
    if (imp_->parentStale_) {
        Call call;
        if (!begin(*imp_, false, call))
            return false;
        CorvaneNodeId id;
        if (!call.api->getParentNode(imp_->id_, id))
            return call.failed();
        imp_->parent_ = id;
        imp_->parentStale_ = false;
    }
    parent = CorvaneNodeHandle(*imp_->server_, imp_->parent_);
    return true;
}

bool CorvaneNodeHandle::getNodeTypeStr(CorvaneStr& type) {
    int number = 0;
    if (!getNodeType(number))
        return false;
    type = imp_->typeStr_.c_str();
    return true;
}

bool CorvaneNodeHandle::getNodeType(int& type) {
    if (imp_->typeStale_) {
        Call call;
        if (!begin(*imp_, false, call))
            return false;
        int number = 0, second = 0;
        std::string text;
        if (!call.api->getNodeType(imp_->id_, number, second) || !call.api->getNodeTypeStr(imp_->id_, text))
            return call.failed();
        imp_->type_ = number;
        imp_->typeStr_ = text;
        imp_->typeStale_ = false;
    }
    type = imp_->type_;
    return true;
}

bool CorvaneNodeHandle::getDisplayName(CorvaneStr& name) {
    if (imp_->displayNameStale_) {
        Call call;
        if (!begin(*imp_, true, call))
            return false;
        std::string text;
        const bool ok = call.atLeast(2012, 0, 0, 5134) ? call.api->getDisplayNameEx(imp_->id_, text)
                                                        : call.api->getDisplayName(imp_->id_, text);
        if (!ok)
            return call.failed();
        imp_->displayName_ = text;
        imp_->displayNameStale_ = false;
    }
    name = imp_->displayName_.c_str();
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
    imp_->displayNameStale_ = true;
    return true;
}

bool CorvaneNodeHandle::getNumChildren(int& count) {
    if (imp_->childrenStale_) {
        Call call;
        if (!begin(*imp_, true, call))
            return false;
        CorvaneNodeInterface::ChildList children;
        const bool ok = call.atLeast(2012, 0, 0, 5134) ? call.api->getChildrenEx(imp_->id_, children)
                                                        : call.api->getChildren(imp_->id_, children);
        if (!ok)
            return call.failed();
        imp_->children_.swap(children);
        imp_->childrenStale_ = false;
    }
    count = static_cast<int>(imp_->children_.size());
    return true;
}

bool CorvaneNodeHandle::getChild(int index, CorvaneNodeHandle& child) {
    int count = 0;
    if (!getNumChildren(count))
        return false;
    std::pair<std::string, std::string> entry;
    if (!indexInto(imp_->children_, index, entry))
        return imp_->server_->imp()->fail("Child node index out of range");
    child = CorvaneNodeHandle(*imp_->server_, CorvaneNodeId(entry.first.c_str()));
    // The children list already told the child's name.
    child.imp_->displayName_ = entry.second;
    child.imp_->displayNameStale_ = false;
    return true;
}

bool CorvaneNodeHandle::findChild(const char* name, CorvaneNodeHandle& child) {
    int count = 0;
    if (!getNumChildren(count))
        return false;
    const std::string wanted = name ? name : "";
    for (int i = 0; i < count; ++i)
        if (imp_->children_[static_cast<size_t>(i)].second == wanted)
            return getChild(i, child);
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
    const bool ok = call.atLeast(2012, 0, 0, 5134)
                        ? call.api->createNodeEx(imp_->id_, displayName, type, exType, format, id)
                        : call.api->createNode(imp_->id_, displayName, type, exType, format, id);
    if (!ok)
        return call.failed();
    imp_->childrenStale_ = true;
    child = CorvaneNodeHandle(*imp_->server_, id);
    return true;
}

bool CorvaneNodeHandle::destroyNode() {
    Call call;
    if (!begin(*imp_, false, call))
        return false;
    if (!call.api->destroyNode(imp_->id_))
        return call.failed();
    imp_.reset(new CorvaneNodeImp(imp_->server_, CorvaneNodeId()));
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
    if (!call.atLeast(2, 5, 0, 0))
        return call.server->fail("Functionality not supported on remote Corvane server.");
    if (!call.api->setMetaData(imp_->id_, stream, data))
        return call.failed();
    imp_->streamsStale_ = true;
    return true;
}

bool CorvaneNodeHandle::getNumMetaDataStreams(int& count) {
    if (imp_->streamsStale_) {
        Call call;
        if (!begin(*imp_, false, call))
            return false;
        CorvaneNodeInterface::StringList streams;
        if (!call.api->queryMetaDataSupport(imp_->id_, streams))
            return call.failed();
        imp_->streams_.swap(streams);
        imp_->streamsStale_ = false;
    }
    count = static_cast<int>(imp_->streams_.size());
    return true;
}

bool CorvaneNodeHandle::getMetaDataStream(int index, CorvaneStr& name) {
    int count = 0;
    if (!getNumMetaDataStreams(count))
        return false;
    std::string text;
    if (!indexInto(imp_->streams_, index, text))
        return imp_->server_->imp()->fail("Metadata stream index out of range");
    name = text.c_str();
    return true;
}

bool CorvaneNodeHandle::isMetaDataStreamSupported(const char* name, bool& supported) {
    int count = 0;
    if (!getNumMetaDataStreams(count))
        return false;
    supported = false;
    for (const std::string& stream : imp_->streams_)
        supported = supported || (name && stream == name);
    return true;
}

bool CorvaneNodeHandle::getStreamId(CorvaneStr& streamId) {
    Call call;
    if (!begin(*imp_, true, call))
        return false;
    if (!call.atLeast(2007, 1, 0, 0)) {
        streamId = "";
        return true;
    }
    return call.api->getStreamId(imp_->id_, streamId) || call.failed();
}

bool CorvaneNodeHandle::getClipFormat(CorvaneClipFormat& format) {
    if (imp_->clipFormatStale_) {
        Call call;
        if (!begin(*imp_, false, call))
            return false;
        CorvaneClipFormat read;
        if (!call.api->getClipFormat(imp_->id_, read))
            return call.failed();
        imp_->clipFormat_ = read;
        imp_->clipFormatStale_ = false;
    }
    format = imp_->clipFormat_;
    return true;
}

bool CorvaneNodeHandle::getNbReadAheads(int& count) {
    if (imp_->readAheadsStale_) {
        Call call;
        if (!begin(*imp_, true, call))
            return false;
        int value = 2;  // what servers before the query always used
        if (call.atLeast(2010, 1, 1, 0) && !call.api->getNbReadAheads(imp_->id_, value))
            return call.failed();
        imp_->readAheads_ = value;
        imp_->readAheadsStale_ = false;
    }
    count = imp_->readAheads_;
    return true;
}

bool CorvaneNodeHandle::getNumFrames(int& count) {
    if (imp_->framesStale_) {
        Call call;
        if (!begin(*imp_, true, call))
            return false;
        CorvaneNodeInterface::FrameList frames;
        const bool ok = call.atLeast(2013, 1, 0, 6115) ? call.api->getFramesEx(imp_->id_, frames)
                                                        : call.api->getFrames(imp_->id_, frames);
        if (!ok)
            return call.failed();
        imp_->frames_.swap(frames);
        imp_->framesStale_ = false;
    }
    count = static_cast<int>(imp_->frames_.size());
    return true;
}

bool CorvaneNodeHandle::getFrame(int index, CorvaneFrameId& frame) {
    int count = 0;
    if (!getNumFrames(count))
        return false;
    if (!indexInto(imp_->frames_, index, frame))
        return imp_->server_->imp()->fail("Frame index out of range");
    return true;
}

bool CorvaneNodeHandle::allocateFrames(int count, const CorvaneClipFormat& format,
                                       std::vector<CorvaneFrameId>& frames) {
    Call call;
    if (!begin(*imp_, true, call))
        return false;
    const bool ok = call.atLeast(2013, 1, 0, 6115) ? call.api->allocateFramesEx(imp_->id_, count, format, frames)
                                                    : call.api->allocateFrames(imp_->id_, count, format, frames);
    if (!ok)
        return call.failed();
    imp_->framesStale_ = true;
    imp_->framePathsStale_ = true;
    return true;
}

bool CorvaneNodeHandle::getNumFramePaths(int& count) {
    if (imp_->framePathsStale_) {
        Call call;
        if (!begin(*imp_, true, call))
            return false;
        CorvaneNodeInterface::StringList paths;
        bool ok = true;
        // Servers before 2.5 can not tell: the list stays empty.
        if (call.atLeast(2012, 1, 1, 5758))
            ok = call.api->getFramePathsEx(imp_->id_, paths);
        else if (call.atLeast(2, 5, 0, 0))
            ok = call.api->getFramePaths(imp_->id_, paths);
        if (!ok)
            return call.failed();
        imp_->framePaths_.swap(paths);
        imp_->framePathsStale_ = false;
    }
    count = static_cast<int>(imp_->framePaths_.size());
    return true;
}

bool CorvaneNodeHandle::getFramePath(int index, CorvaneStr& path) {
    int count = 0;
    if (!getNumFramePaths(count))
        return false;
    std::string text;
    if (!indexInto(imp_->framePaths_, index, text))
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
    if (call.atLeast(2012, 1, 1, 5758))
        ok = call.api->setFramePathsEx(imp_->id_, list, format);
    else if (call.atLeast(2, 6, 0, 0))
        ok = call.api->setFramePaths(imp_->id_, list, format);
    else
        return call.server->fail("Server does not support linking to existing media files.");
    if (!ok)
        return call.failed();
    imp_->framesStale_ = true;
    imp_->framePathsStale_ = true;
    imp_->clipFormatStale_ = true;
    return true;
}

bool CorvaneNodeHandle::readFrame(const CorvaneFrameId& frame, void* buffer, size_t sizeBytes,
                                  const CorvaneFrameReadOptions& options) {
    return imp_->server_->imp()->frameOperation([&](CorvaneFrameClientAPI& frames) {
        frames.readFrame(frame.getId(), static_cast<char*>(buffer), sizeBytes, options.params, options.paramsBytes,
                         options.readAhead[0].getId(), options.readAhead[1].getId(), options.noAck);
    });
}

bool CorvaneNodeHandle::writeFrame(const CorvaneFrameId& frame, const void* data, size_t sizeBytes) {
    return imp_->server_->imp()->frameOperation(
        [&](CorvaneFrameClientAPI& frames) { frames.writeFrame(frame.getId(), data, sizeBytes); });
}

bool CorvaneNodeHandle::readStream(void* buffer, size_t sizeBytes, int64_t position, size_t elementBytes,
                                   int& count) {
    if (imp_->streamIdStale_) {
        CorvaneStr id;
        if (!getStreamId(id))
            return false;
        imp_->streamId_ = id.c_str();
        imp_->streamIdStale_ = false;
    }
    int64_t n = count;
    if (!imp_->server_->imp()->frameOperation([&](CorvaneFrameClientAPI& frames) {
            frames.readStream(imp_->streamId_.c_str(), static_cast<char*>(buffer), sizeBytes, position,
                              elementBytes, &n);
        }))
        return false;
    count = n > INT_MAX ? INT_MAX : static_cast<int>(n);
    return true;
}
