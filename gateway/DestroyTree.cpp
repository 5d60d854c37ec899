#include "DestroyTree.h"

#include <cstddef>
#include <set>
#include <string>

#include "RequestLimits.h"
#include "client/api/CorvaneNodeHandle.h"
#include "client/api/CorvaneStr.h"

namespace {

// Deeper than any real node tree, and far from the stack's end: a server
// that invents children without end must not run the walk out of stack.
constexpr size_t kMaxLevels = 1000;

[[noreturn]] void fail(const char* what, const CorvaneNodeHandle& node) {
    throw std::string(what) + ": " + node.lastError();
}

std::string idOf(const CorvaneNodeHandle& node) { return node.getNodeId().getId(); }

struct Walk {
    const RequestLimits& limits;
    std::string top;
    // Every node the walk has reached: a server that lists a node twice
    // (below itself, say) is refused at the repeat, before anything more is
    // destroyed.
    std::set<std::string> seen;
};

// level: 1 for the node the walk starts at.
void destroyTree(CorvaneNodeHandle node, bool recursive, Walk& walk, size_t level) {
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
        int count;
        if (!node.getNumChildren(count))
            fail("Unable to get number of children", node);
        for (int index = count - 1; index >= 0; --index) {
            walk.limits.checkDeadline();
            CorvaneNodeHandle child;
            if (!node.getChild(index, child))
                fail("Unable to retrieve child", node);
            const std::string id = idOf(child);
            if (!walk.seen.insert(id).second)
                throw "Node '" + id + "' is listed twice in the tree (again under '" + idOf(node) + "')";
            if (level + 1 > kMaxLevels)
                throw "Node tree below '" + walk.top + "' is deeper than " + std::to_string(kMaxLevels) + " levels";
            destroyTree(child, true, walk, level + 1);
        }
    }
    if (!node.destroyNode())
        throw std::string(node.lastError());
}

}  // namespace

void destroyTree(CorvaneNodeHandle node, bool recursive, const RequestLimits& limits) {
    Walk walk{limits, idOf(node), {idOf(node)}};
    destroyTree(node, recursive, walk, 1);
}
