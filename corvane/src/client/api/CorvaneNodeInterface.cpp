#include "client/api/CorvaneNodeInterface.h"

bool CorvaneNodeInterface::moveNode(const CorvaneNodeId&, const CorvaneNodeId&) { return false; }

bool CorvaneNodeInterface::renameNode(CorvaneNodeId&, const char*) { return false; }
