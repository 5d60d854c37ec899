#include "ServerModes.h"

#include <vector>

#include "CgiRequest.h"
#include "CoXmlWriter.h"
#include "DestroyTree.h"
#include "RequestLimits.h"
#include "ServerPolicy.h"
#include "TimeoutCorvaneServerHandle.h"
#include "client/api/CorvaneNodeHandle.h"
#include "client/api/CorvaneStr.h"

namespace {

std::string destroyNodes(ModeContext& context, bool recursive) {
    const std::string nodeIds = context.request.get("nodeId");
    context.limits.checkNodeCount(CgiRequest::countList(nodeIds));
    context.servers.check(context.host);
    TimeoutCorvaneServerHandle server(context.host.c_str(), context);
    for (const std::string& id : CgiRequest::splitList(nodeIds)) {
        context.limits.checkDeadline();
        CorvaneNodeHandle node(server, id.c_str());
        destroyTree(node, recursive, context.limits);
        server.resetTimer();
    }
    return std::string();
}

std::string metadataMode(ModeContext& context, bool get) {
    const std::string streamName = context.request.get("streamName");
    if (streamName.empty())
        throw std::string("Specify streamName when getting or setting metadata");
    const std::string nodeIds = context.request.get("nodeId");
    // Counted before anything is made of them: a list of a million nodes
    // costs no more than its text.
    const size_t hostCount = CgiRequest::countList(context.host);
    const size_t nodeCount = CgiRequest::countList(nodeIds);
    if (nodeCount != hostCount && hostCount != 1)
        throw std::string("Specify same number of hosts and nodes or one host for all nodes");
    context.limits.checkNodeCount(nodeCount);
    const std::vector<std::string> hosts = CgiRequest::splitList(context.host);
    const std::vector<std::string> nodes = CgiRequest::splitList(nodeIds);
    for (const std::string& host : hosts)
        context.servers.check(host);
    const std::string metadata = context.request.get("corvaneMetadata");

    std::string output;
    for (size_t i = 0; i < nodes.size(); ++i) {
        context.limits.checkDeadline();
        context.host = hosts.size() > 1 ? hosts[i] : hosts[0];
        TimeoutCorvaneServerHandle server(context.host.c_str(), context);
        CorvaneNodeHandle node(server, nodes[i].c_str());
        if (get) {
            CorvaneStr data;
            if (!node.getMetaData(streamName.c_str(), "", 1, data))
                throw std::string(node.lastError());
            // The metadata is raw by design: it is XML that becomes part of
            // the response. The headers keep a browser from running any of it.
            output += "<node><nodeId>" + CoXmlWriter::escape(nodes[i]) + "</nodeId><host>" +
                      CoXmlWriter::escape(context.host) + "</host>" + data.c_str() + "</node>";
            context.limits.checkResponseSize(output.size());
        } else {
            if (metadata.empty())
                throw std::string("Specify corvaneMetadta when setting metadata");
            if (!node.setMetaData(streamName.c_str(), metadata.c_str()))
                throw std::string(node.lastError());
        }
        server.resetTimer();
    }
    return output;
}

}  // namespace

std::string destroyNode(ModeContext& context) { return destroyNodes(context, false); }

std::string destroyNodeRecursive(ModeContext& context) { return destroyNodes(context, true); }

std::string getMetadata(ModeContext& context) { return metadataMode(context, true); }

std::string setMetadata(ModeContext& context) { return metadataMode(context, false); }

std::string createNode(ModeContext& context) {
    context.servers.check(context.host);
    TimeoutCorvaneServerHandle server(context.host.c_str(), context);
    CorvaneNodeHandle parent(server, context.request.get("nodeId").c_str());
    CorvaneNodeHandle child;
    if (!parent.createNode(context.request.get("displayName").c_str(), context.request.get("type").c_str(), child))
        throw std::string(parent.lastError());
    server.resetTimer();
    return "<node>" + CoXmlWriter::escape(child.getNodeId().getId()) + "</node>";
}
