// Internal to the gateway.
// Destroys a node and, when recursive, its descendants first (last child
// first). A server's tree that lists a node twice (a loop) or runs deeper
// than any real tree stops the walk with an error; what was destroyed
// before stays destroyed, and so does the walk once the request's deadline
// has passed. Throws the failure's message as a std::string.
#pragma once

class CorvaneNodeHandle;
class RequestLimits;

void destroyTree(CorvaneNodeHandle node, bool recursive, const RequestLimits& limits);
