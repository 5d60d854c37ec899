// corvane-sim: a stand-in Corvane media server for trying the gateway and
// for tests. See sim/README.md.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "base/loggerBase/CoException.h"
#include "base/loggerBase/CoMsg.h"
#include "base/rcApi/rcAPI.h"
#include "sim/SimEvents.h"
#include "sim/SimFrames.h"
#include "sim/SimOptions.h"
#include "sim/SimServer.h"
#include "sim/SimSignalWatch.h"
#include "sim/SimTranslations.h"
#include "sim/SimTree.h"
#include "sim/SimTreeFile.h"

namespace {

// Standard output carries the port line alone; messages go to standard error.
class StderrRouter : public Corvane::CoMsg::Router {
public:
    void route(const Corvane::CoMsg::Record& record) override {
        char line[4096];
        Corvane::CoMsg::formatRecord(record, line, sizeof line);
        std::fputs(line, stderr);
    }
};

int complain(const std::string& text, int status) {
    std::fprintf(stderr, "corvane-sim: %s\n", text.c_str());
    return status;
}

// The record of the server at HOST:PORT, which ReadAheadRedirect hands out.
bool fetchRecord(const std::string& target, std::string* record, std::string* error) {
    constexpr int kTimeoutMs = 5000;
    const size_t colon = target.rfind(':');
    const std::string host = target.substr(0, colon);
    Corvane::rcAPI api;
    if (api.connect(host.c_str(), std::atoi(target.c_str() + colon + 1), kTimeoutMs) &&
        api.call(0, "GetDaemonInfo", "\"\"", true, *record, kTimeoutMs))
        return true;
    *error = "Option '--redirect-to': could not ask '" + target + "' for its record: " + api.lastError();
    return false;
}

// Clears the service hooks' events before they go.
struct CurrentEvents {
    explicit CurrentEvents(CorvaneSim::SimEvents* events) { CorvaneSim::SimEvents::setCurrent(events); }
    ~CurrentEvents() { CorvaneSim::SimEvents::setCurrent(nullptr); }
};

}  // namespace

int main(int argc, char** argv) {
    // A client that closes while a reply is sent must not end the server.
    ::signal(SIGPIPE, SIG_IGN);
    static StderrRouter router;
    Corvane::CoMsg::setRouter(&router);

    CorvaneSim::SimOptions options;
    std::string error;
    bool help = false;
    if (!options.parse(argc, argv, &error, &help)) {
        complain(error, 2);  // first, where it is seen
        std::fputs(CorvaneSim::SimOptions::usage(), stderr);
        return 2;
    }
    if (help) {
        std::fputs(CorvaneSim::SimOptions::usage(), stdout);
        return 0;
    }

    CorvaneSim::SimTree tree;
    CorvaneSim::SimTranslations translations;
    if (!CorvaneSim::SimTreeFile::load(options.treeFile, &tree, &translations, &error))
        return complain(error, 1);

    std::string redirectRecord;
    if (!options.redirectTo.empty() && !fetchRecord(options.redirectTo, &redirectRecord, &error))
        return complain(error, 1);

    try {
        // Declared in this order so that they go in the reverse one: the
        // frame service's threads post events until it is gone.
        CorvaneSim::SimEvents events;
        const CurrentEvents current(&events);
        CorvaneSim::SimFrames frames(options, redirectRecord);
        options.framePort = frames.port();  // the record carries the bound port
        CorvaneSim::SimServer server(options, std::move(tree), std::move(translations));
        const std::unique_ptr<CorvaneSim::SimSignalWatch> watch = CorvaneSim::SimSignalWatch::create(server, &error);
        if (!watch)
            return complain(error, 1);
        events.attach(&server);
        events.start();
        frames.start();
        // Announced before the port line, so a test that reads the line
        // knows the announcement has gone out.
        server.startDiscovery();
        std::printf("%d\n", server.port());
        std::fflush(stdout);
        return server.run() ? 0 : 1;
    } catch (const Corvane::CoException& e) {
        return complain(e.what(), 1);
    }
}
