// A program of someone else's, built against an installed Corvane: prints
// the root node's "info" stream of the server named on the command line.
#include <cstdio>

#include "client/api/CorvaneInit.h"
#include "client/api/CorvaneNodeHandle.h"
#include "client/api/CorvaneServerHandle.h"
#include "client/api/CorvaneStr.h"

int main(int argc, char** argv) {
    CorvaneInitGuard init;
    if (argc != 2 || !init.ok())
        return 2;
    CorvaneServerHandle server(argv[1]);
    CorvaneNodeHandle root(server, "/");
    CorvaneStr info;
    const bool ok = root.getMetaData("info", "", 0, info);
    std::puts(ok ? info.c_str() : root.lastError());
    return ok ? 0 : 1;
}
