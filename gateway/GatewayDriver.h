// The gateway's main sequence: decode the request, write the header, run
// one mode, write one <response> document, exit 0.
#pragma once

int runGateway(int argc, char** argv);
