#include "GatewayDriver.h"

int main(int argc, char** argv) { return runGateway(argc, argv); }
