// A first program with the Corvane client library: prints the release of
// the library, the root node's "info" metadata of the server named on the
// command line, and the root's children with their types and names.
//     first-program 127.0.0.1:7549
#include <cstdio>
#include <cstring>

#include "client/api/CorvaneInit.h"
#include "client/api/CorvaneNodeHandle.h"
#include "client/api/CorvaneNodeType.h"
#include "client/api/CorvaneServerHandle.h"
#include "client/api/CorvaneStr.h"
#include "client/api/CorvaneVersion.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s HOST:PORT\n", argv[0]);
        return 2;
    }
    // The release linked; a program built against other headers says so.
    std::printf("Corvane %s\n", corvaneLibraryVersion());
    if (std::strcmp(corvaneLibraryVersion(), CORVANE_VERSION_STRING) != 0)
        std::fprintf(stderr, "Built with the headers of Corvane %s\n", CORVANE_VERSION_STRING);
    // Starts the library here and stops it at the end of main.
    CorvaneInitGuard library;
    if (!library.ok()) {
        std::fprintf(stderr, "The Corvane library did not start\n");
        return 1;
    }
    // No connection yet: the first operation makes it.
    CorvaneServerHandle server(argv[1]);
    CorvaneNodeHandle root(server, "/");

    CorvaneStr info;
    if (!root.getMetaData("info", "", 0, info)) {
        std::fprintf(stderr, "%s\n", root.lastError());
        return 1;
    }
    std::printf("%s\n", info.c_str());

    int count = 0;
    if (!root.getNumChildren(count)) {
        std::fprintf(stderr, "%s\n", root.lastError());
        return 1;
    }
    for (int i = 0; i < count; ++i) {
        CorvaneNodeHandle child;
        CorvaneStr name;
        int type = CorvaneNodeType::kNode;
        if (!root.getChild(i, child) || !child.getDisplayName(name) || !child.getNodeType(type)) {
            std::fprintf(stderr, "%s\n", root.lastError());
            return 1;
        }
        std::printf("%s %s %s\n", child.getNodeId().getId(), corvaneNodeTypeName(type), name.c_str());
    }
    return 0;
}
