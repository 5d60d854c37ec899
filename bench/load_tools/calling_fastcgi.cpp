// The floor of any persistent gateway that asks a server: the fixed-answer
// responder (fixed_fastcgi.c) that, before each answer, makes one RPC call
// over one kept connection, the call a getMetadata of one node makes.
// FIXED_ANSWER names the answer's file, FIXED_SERVER the server as
// HOST:PORT, FIXED_CALL the call as "METHOD ARGUMENTS".
#include <fcgiapp.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "base/loggerBase/CoMsg.h"
#include "base/rcApi/rcAPI.h"

namespace {

constexpr int kCallTimeoutMs = 5000;

bool connect(Corvane::rcAPI& api, const std::string& server) {
    const size_t colon = server.rfind(':');
    return colon != std::string::npos &&
           api.connect(server.substr(0, colon).c_str(), std::atoi(server.c_str() + colon + 1), kCallTimeoutMs);
}

}  // namespace

int main() {
    const char* path = std::getenv("FIXED_ANSWER");
    const char* server = std::getenv("FIXED_SERVER");
    const char* call = std::getenv("FIXED_CALL");
    std::ifstream file(path ? path : "", std::ios::binary);
    if (!file || !server || !call) {
        std::fprintf(stderr, "calling_fastcgi: set FIXED_ANSWER, FIXED_SERVER and FIXED_CALL\n");
        return 2;
    }
    std::ostringstream text;
    text << file.rdbuf();
    const std::string answer = text.str();
    const std::string line = call;
    const size_t blank = line.find(' ');
    const std::string method = line.substr(0, blank);
    const std::string args = blank == std::string::npos ? "" : line.substr(blank + 1);

    Corvane::CoMsg::setLevel(Corvane::CoMsg::error);
    Corvane::rcAPI api;
    FCGX_Request request;
    if (FCGX_Init() != 0 || FCGX_InitRequest(&request, 0, 0) != 0)
        return 1;
    std::string reply;
    while (FCGX_Accept_r(&request) >= 0) {
        // A failed call leaves the answer out, so the load tool counts it.
        const bool called = (api.isConnected() || connect(api, server)) &&
                            api.call(0, method.c_str(), args.c_str(), true, reply, kCallTimeoutMs);
        if (called)
            FCGX_PutStr(answer.data(), static_cast<int>(answer.size()), request.out);
        else
            FCGX_FPrintF(request.out, "Status: 502\r\n\r\n%s\n", reply.c_str());
        FCGX_Finish_r(&request);
    }
    return 0;
}
