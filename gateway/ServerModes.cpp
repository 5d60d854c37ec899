#include "ServerModes.h"

#include <cstdio>
#include <vector>

#include "CgiRequest.h"
#include "DestroyTree.h"
#include "TimeoutCorvaneServerHandle.h"
#include "client/api/CorvaneNodeHandle.h"
#include "client/api/CorvaneStr.h"

namespace {
std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> list;
    CgiRequest::splitString(text, list, ",");
    return list;
}
}  // namespace

void destroyNodes(const std::string& host, const std::string& nodeIds, bool recursive) {
    TimeoutCorvaneServerHandle server(host.c_str());
    for (const std::string& id : split(nodeIds)) {
        CorvaneNodeHandle node(server, id.c_str());
        destroyTree(node, recursive);
        server.resetTimer();
    }
    std::fputs("<response></response>\n", stdout);
}

void metadataMode(bool get, const std::string& hosts, const std::string& nodeIds, const std::string& streamName,
                  const std::string& metadata, std::string* hostInUse) {
    if (streamName.empty())
        throw std::string("Specify streamName when getting or setting metadata");
    const std::vector<std::string> hostList = split(hosts);
    const std::vector<std::string> nodeList = split(nodeIds);
    if (nodeList.size() != hostList.size() && hostList.size() != 1)
        throw std::string("Specify same number of hosts and nodes or one host for all nodes");

    std::string output;
    for (size_t i = 0; i < nodeList.size(); ++i) {
        *hostInUse = hostList.size() > 1 ? hostList[i] : hostList[0];
        TimeoutCorvaneServerHandle server(hostInUse->c_str());
        CorvaneNodeHandle node(server, nodeList[i].c_str());
        if (get) {
            CorvaneStr data;
            if (!node.getMetaData(streamName.c_str(), "", 1, data))
                throw std::string(node.lastError());
            // Nothing is escaped: the metadata is XML that becomes part of the response.
            output += "<node><nodeId>" + nodeList[i] + "</nodeId><host>" + *hostInUse + "</host>" + data.c_str() +
                      "</node>";
        } else {
            if (metadata.empty())
                throw std::string("Specify corvaneMetadta when setting metadata");
            if (!node.setMetaData(streamName.c_str(), metadata.c_str()))
                throw std::string(node.lastError());
        }
        server.resetTimer();
    }
    std::printf("<response>%s</response>\n", output.c_str());
}

void createNodeMode(const std::string& host, const std::string& nodeId, const std::string& displayName,
                    const std::string& type) {
    TimeoutCorvaneServerHandle server(host.c_str());
    CorvaneNodeHandle parent(server, nodeId.c_str());
    CorvaneNodeHandle child;
    if (!parent.createNode(displayName.c_str(), type.c_str(), child))
        throw std::string(parent.lastError());
    server.resetTimer();
    std::printf("<response><node>%s</node></response>\n", child.getNodeId().getId());
}
