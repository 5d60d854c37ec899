#include "GatewayDriver.h"

// TinyXML's header includes <iostream>, so every object built with it
// (Debian's libtinyxml.a too) builds the eight standard streams and the
// classic locale when the process starts: about a sixth of a getUser
// request's page faults. The gateway writes through stdio and its own
// string streams, never the standard ones, so the link replaces their
// set-up with these and turns any use of them into an undefined reference.
extern "C" void __wrap__ZNSt8ios_base4InitC1Ev(void*) {}
extern "C" void __wrap__ZNSt8ios_base4InitD1Ev(void*) {}

int main(int argc, char** argv) { return runGateway(argc, argv); }
