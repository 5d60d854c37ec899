#include "GatewayDriver.h"

#include <cstdio>

int runGateway(int, char**) {
    std::fputs("Content-Type: text/xml\n\n", stdout);
    return 0;
}
