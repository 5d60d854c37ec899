#include "NodeModes.h"

#include <vector>

#include "CgiRequest.h"
#include "CoXmlWriter.h"
#include "DestroyTree.h"
#include "RequestLimits.h"
#include "ServerDoor.h"
#include "client/api/CorvaneNodeHandle.h"
#include "client/api/CorvaneStr.h"

namespace {

std::string destroyNodes(const ModeContext& context, bool recursive) {
    const std::string nodeIds = context.request.get("nodeId");
    context.limits.checkNodeCount(CgiRequest::countList(nodeIds));
    TimeoutCorvaneServerHandle server = context.door.open(context.host);
    for (const std::string& id : CgiRequest::splitList(nodeIds)) {
        context.limits.checkDeadline();
        CorvaneNodeHandle node(server, id.c_str());
        destroyTree(node, recursive, context.limits);
        server.resetTimer();
    }
    return std::string();
}

// The request's nodes and the host each is on, checked before any server is
// contacted: host and nodeId are paired lists, or one host serves all nodes.
struct NodeList {
    std::vector<std::string> hosts, nodes;
    const std::string& hostOf(size_t i) const { return hosts.size() > 1 ? hosts[i] : hosts[0]; }
};

NodeList pairedNodes(const ModeContext& context) {
    const std::string nodeIds = context.request.get("nodeId");
    // Counted before anything is made of them: a list of a million nodes
    // costs no more than its text.
    const size_t hostCount = CgiRequest::countList(context.host);
    const size_t nodeCount = CgiRequest::countList(nodeIds);
    if (nodeCount != hostCount && hostCount != 1)
        throw std::string("Specify same number of hosts and nodes or one host for all nodes");
    context.limits.checkNodeCount(nodeCount);
    NodeList list{CgiRequest::splitList(context.host), CgiRequest::splitList(nodeIds)};
    for (const std::string& host : list.hosts)
        context.door.admit(host);
    return list;
}

std::string nodeHeader(const std::string& id, const std::string& host) {
    return "<node><nodeId>" + CoXmlWriter::escape(id) + "</nodeId><host>" + CoXmlWriter::escape(host) + "</host>";
}

std::string element(const char* name, const std::string& text) {
    return std::string("<") + name + ">" + CoXmlWriter::escape(text) + "</" + name + ">";
}

// Runs each node of the request through one(server, node, id, host,
// output), with a handle on the node's host of its own.
template <typename Each>
std::string eachNode(const ModeContext& context, Each one) {
    const NodeList list = pairedNodes(context);
    std::string output;
    for (size_t i = 0; i < list.nodes.size(); ++i) {
        context.limits.checkDeadline();
        TimeoutCorvaneServerHandle server = context.door.open(list.hostOf(i));
        CorvaneNodeHandle node(server, list.nodes[i].c_str());
        one(server, node, list.nodes[i], list.hostOf(i), output);
        context.limits.checkResponseSize(output.size());
        server.resetTimer();
    }
    return output;
}

// The identifier of the node's parent; empty for the server's root, which
// has none.
std::string parentOf(CorvaneNodeHandle& node) {
    CorvaneNodeHandle parent, root;
    if (node.getParentNode(parent))
        return parent.getNodeId().getId();
    const std::string why = node.lastError();
    if (node.getRootNode(root) && std::string(root.getNodeId().getId()) == node.getNodeId().getId())
        return std::string();
    throw why;
}

// The stream both metadata modes need.
std::string streamNameOf(const ModeContext& context) {
    const std::string streamName = context.request.get("streamName");
    if (streamName.empty())
        throw std::string("Specify streamName when getting or setting metadata");
    return streamName;
}

}  // namespace

std::string destroyNode(const ModeContext& context) { return destroyNodes(context, false); }

std::string destroyNodeRecursive(const ModeContext& context) { return destroyNodes(context, true); }

std::string getMetadata(const ModeContext& context) {
    const std::string streamName = streamNameOf(context);
    return eachNode(context, [&](TimeoutCorvaneServerHandle&, CorvaneNodeHandle& node, const std::string& id,
                                 const std::string& host, std::string& output) {
        CorvaneStr data;
        if (!node.getMetaData(streamName.c_str(), "", 1, data))
            throw std::string(node.lastError());
        // The metadata is raw by design: it is XML that becomes part of the
        // response. The headers keep a browser from running any of it.
        output += nodeHeader(id, host) + data.c_str() + "</node>";
    });
}

std::string setMetadata(const ModeContext& context) {
    const std::string streamName = streamNameOf(context);
    const std::string metadata = context.request.get("corvaneMetadata");
    return eachNode(context, [&](TimeoutCorvaneServerHandle&, CorvaneNodeHandle& node, const std::string&,
                                 const std::string&, std::string&) {
        if (metadata.empty())
            throw std::string("Specify corvaneMetadta when setting metadata");
        if (!node.setMetaData(streamName.c_str(), metadata.c_str()))
            throw std::string(node.lastError());
    });
}

std::string createNode(const ModeContext& context) {
    TimeoutCorvaneServerHandle server = context.door.open(context.host);
    CorvaneNodeHandle parent(server, context.request.get("nodeId").c_str());
    CorvaneNodeHandle child;
    if (!parent.createNode(context.request.get("displayName").c_str(), context.request.get("type").c_str(), child))
        throw std::string(parent.lastError());
    server.resetTimer();
    return "<node>" + CoXmlWriter::escape(child.getNodeId().getId()) + "</node>";
}

std::string getChildren(const ModeContext& context) {
    const bool withTypes = context.request.get("withTypes") == "1";
    // Typed children cost server calls of their own: they count against the
    // request's node limit, all folders together.
    size_t typed = 0;
    return eachNode(context, [&](TimeoutCorvaneServerHandle& server, CorvaneNodeHandle& node, const std::string& id,
                                 const std::string& host, std::string& output) {
        int count;
        if (!node.getNumChildren(count))
            throw std::string(node.lastError());
        if (withTypes) {
            typed += static_cast<size_t>(count);
            context.limits.checkNodeCount(typed);
        }
        output += nodeHeader(id, host);
        for (int i = 0; i < count; ++i) {
            CorvaneNodeHandle child;
            CorvaneStr name;
            if (!node.getChild(i, child) || !child.getDisplayName(name))
                throw std::string(node.lastError());
            output += "<child>" + element("nodeId", child.getNodeId().getId()) + element("displayName", name.c_str());
            if (withTypes) {
                context.limits.checkDeadline();
                CorvaneStr type;
                if (!child.getNodeTypeStr(type))
                    throw std::string(child.lastError());
                output += element("type", type.c_str());
                server.resetTimer();
            }
            output += "</child>";
            context.limits.checkResponseSize(output.size());
        }
        output += "</node>";
    });
}

std::string getNodeInfo(const ModeContext& context) {
    return eachNode(context, [&](TimeoutCorvaneServerHandle&, CorvaneNodeHandle& node, const std::string& id,
                                 const std::string& host, std::string& output) {
        CorvaneStr type, name;
        int children, streams;
        if (!node.getNodeTypeStr(type) || !node.getDisplayName(name) || !node.getNumChildren(children) ||
            !node.getNumMetaDataStreams(streams))
            throw std::string(node.lastError());
        output += nodeHeader(id, host) + element("type", type.c_str()) + element("displayName", name.c_str()) +
                  element("parentId", parentOf(node)) + element("numChildren", std::to_string(children)) + "<streams>";
        for (int i = 0; i < streams; ++i) {
            CorvaneStr stream;
            if (!node.getMetaDataStream(i, stream))
                throw std::string(node.lastError());
            output += element("stream", stream.c_str());
        }
        output += "</streams></node>";
    });
}
