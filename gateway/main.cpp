// The program's entry: FastCGI when started on a listening socket, an
// operator's option from a shell, CGI otherwise.
#include <cstdio>

#include "CommandLine.h"
#include "FastCgiServer.h"
#include "GatewayDriver.h"
#include "Restart.h"

// The gateway writes through stdio and its own string streams, never the
// standard ones: the link turns any use of them into an undefined
// reference, and replaces with these the set-up of the streams that an
// object including <iostream> asks for, so that such an include costs a
// CGI start nothing.
extern "C" void __wrap__ZNSt8ios_base4InitC1Ev(void*) {}
extern "C" void __wrap__ZNSt8ios_base4InitD1Ev(void*) {}

int main(int argc, char** argv) {
    const int listener = fastCgiListener();
    if (listener >= 0) {
        const int status = serveFastCgi(listener, argc > 0 ? argv[0] : nullptr);
        if (status == kRestartStatus)
            restartProgram(argv);  // returns only when that failed
        return status == kRestartStatus ? 1 : status;
    }
    if (isCommandLineOption(argc, argv))
        return runCommandLine(argc, argv);
    GatewayDriver driver(false);
    ProcessIo io;
    driver.serve(argc, argv, io);
    std::fflush(stdout);
    return 0;
}
