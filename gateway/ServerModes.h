// The modes that work on servers' node trees. Each writes its <response> on
// success and throws its message as a std::string on failure.
#pragma once

#include <string>

// destroyNode / destroyNodeRecursive: nodeId is a comma-separated list on
// the one server named by host.
void destroyNodes(const std::string& host, const std::string& nodeIds, bool recursive);

// getMetadata / setMetadata over paired host and node lists. hostInUse is
// kept at the host of the node being worked on, for the error line.
void metadataMode(bool get, const std::string& hosts, const std::string& nodeIds, const std::string& streamName,
                  const std::string& metadata, std::string* hostInUse);

void createNodeMode(const std::string& host, const std::string& nodeId, const std::string& displayName,
                    const std::string& type);
