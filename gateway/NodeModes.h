// Internal to the gateway.
// The modes that work on servers' node trees. Each answers the body of its
// <response> and throws its message as a std::string on failure; what was
// done on the servers before a failure stays done.
#pragma once

#include <string>

#include "GatewayMode.h"

// nodeId is a comma-separated list on the one server named by host;
// destroyNodeRecursive takes each node's subtree first.
std::string destroyNode(const ModeContext& context);
std::string destroyNodeRecursive(const ModeContext& context);

// Over paired host and node lists; each node's host answers with it, and a
// failure names the host of the node being worked on.
std::string getMetadata(const ModeContext& context);
std::string setMetadata(const ModeContext& context);

// Over paired host and node lists, like the metadata modes. getChildren
// answers each node's children in the server's order (with their type
// texts when withTypes=1); getNodeInfo each node's type, name, parent,
// number of children and metadata streams.
std::string getChildren(const ModeContext& context);
std::string getNodeInfo(const ModeContext& context);

// Answers "<node>" and the new node's identifier.
std::string createNode(const ModeContext& context);
