#include "CommandLine.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "SettingsCheck.h"
#include "client/api/CorvaneInit.h"

extern char** environ;

namespace {

const char kUsage[] =
    "Usage: corvane-gateway [name=value ...]\n"
    "       corvane-gateway --version | --help | --check\n"
    "\n"
    "Run by a web server (CGI, or FastCGI on a listening socket), the gateway\n"
    "answers one request per run or per connection. From a shell, name=value\n"
    "arguments make a request: corvane-gateway mode=ping\n"
    "\n"
    "  --version  the program's and the client library's versions and build\n"
    "  --help     this text\n"
    "  --check    checks the settings in the environment (CORVANE_*, XQ_*), the\n"
    "             network configuration file and ./account of the working\n"
    "             directory; one line per problem, exit status 1 if any\n"
    "\n"
    "Signals (FastCGI): TERM or QUIT finish the requests in progress and exit;\n"
    "HUP finishes them and starts the program again on the same socket.\n";

int version() {
    int major, minor, maint;
    corvaneVersion(&major, &minor, &maint);
    std::printf("corvane-gateway %s\nCorvane client library %s (protocol %d.%d.%d)\nbuild: %s, %s, g++ %s\n",
                CORVANE_VERSION, corvaneLibraryVersion(), major, minor, maint, CORVANE_BUILD_TYPE,
                sizeof(void*) == 8 ? "64-bit" : "32-bit", __VERSION__);
    return 0;
}

int check() {
    std::vector<std::string> environment;
    for (char** entry = environ; entry && *entry; ++entry)
        environment.push_back(*entry);
    const std::vector<std::string> problems = settingsProblems(environment);
    for (const std::string& problem : problems)
        std::printf("%s\n", problem.c_str());
    if (problems.empty())
        std::printf("Settings OK\n");
    return problems.empty() ? 0 : 1;
}

}  // namespace

bool isCommandLineOption(int argc, char** argv) {
    return argc > 1 && std::strncmp(argv[1], "--", 2) == 0 && !std::getenv("GATEWAY_INTERFACE");
}

int runCommandLine(int argc, char** argv) {
    const std::string option = argv[1];
    if (argc == 2 && option == "--version")
        return version();
    if (argc == 2 && option == "--help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 2 && option == "--check")
        return check();
    std::fprintf(stderr, "corvane-gateway: unknown option '%s'\n%s", option.c_str(), kUsage);
    return 2;
}
