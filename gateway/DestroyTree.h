// Destroys a node and, when recursive, its descendants first (last child
// first). Throws the failure's message as a std::string.
#pragma once

class CorvaneNodeHandle;

void destroyTree(CorvaneNodeHandle node, bool recursive);
