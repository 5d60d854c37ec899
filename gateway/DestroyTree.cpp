#include "DestroyTree.h"

#include <string>

#include "client/api/CorvaneNodeHandle.h"
#include "client/api/CorvaneStr.h"

namespace {
[[noreturn]] void fail(const char* what, const CorvaneNodeHandle& node) {
    throw std::string(what) + ": " + node.lastError();
}
}  // namespace

void destroyTree(CorvaneNodeHandle node, bool recursive) {
    CorvaneStr type;
    if (!node.getNodeTypeStr(type))
        fail("Unable to retrieve node type", node);
    // A clip's children are its own media, not nodes of the tree to walk.
    if (type == "CLIP") {
        if (!node.destroyNode())
            throw std::string(node.lastError());
        return;
    }
    if (recursive) {
        int count = 0;
        if (!node.getNumChildren(count))
            fail("Unable to get number of children", node);
        for (int index = count - 1; index >= 0; --index) {
            CorvaneNodeHandle child;
            if (!node.getChild(index, child))
                fail("Unable to retrieve child", node);
            destroyTree(child, true);
        }
    }
    if (!node.destroyNode())
        throw std::string(node.lastError());
}
