#include "sim/SimOptions.h"

#include <algorithm>
#include <cstdio>

#include "base/tcp/CoIoTcpDescriptor.h"
#include "client/api/CorvaneDaemonInfo.h"
#include "client/api/CorvaneVocabulary.h"
#include "sim/SimArgs.h"
#include "sim/SimService.h"
#include "sim/SimTree.h"

namespace CorvaneSim {

namespace {

constexpr int kDefaultPort = 7549;
constexpr int kMaxDelayMs = 3600 * 1000;

bool isSimMethod(const std::string& name) {
    const std::vector<std::string>& names = SimService::methodNames();
    return std::find(names.begin(), names.end(), name) != names.end();
}

bool fail(std::string* error, const std::string& text) {
    *error = text;
    return false;
}

bool parseDelay(const std::string& text, int* ms) { return parseInt(text, ms) && *ms >= 0 && *ms <= kMaxDelayMs; }

bool parseVersion(const std::string& text, int (&out)[4]) {
    int v[4] = {};
    size_t start = 0;
    for (int i = 0; i < 4; ++i) {
        const size_t dot = text.find('.', start);
        if ((dot == std::string::npos) != (i == 3))
            return false;
        if (!parseInt(text.substr(start, dot == std::string::npos ? std::string::npos : dot - start), &v[i]) ||
            v[i] < 0)
            return false;
        start = dot + 1;
    }
    std::copy(v, v + 4, out);
    return true;
}

// NAME:VALUE, split at the first colon.
bool splitPair(const std::string& text, std::string* name, std::string* value) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    *name = text.substr(0, colon);
    *value = text.substr(colon + 1);
    return true;
}

}  // namespace

const char* SimOptions::usage() {
    return "Usage: corvane-sim --tree FILE [--port N] [--version A.B.C.D] [--database NAME]\n"
           "                   [--display-name NAME] [--no-login]\n"
           "                   [--delay-ms MS] [--delay-method METHOD:MS] [--fail-method METHOD:TEXT]\n"
           "                   [--close-on METHOD] [--extra-child PARENT,CHILD] [--call-log FILE]\n"
           "Serves the node tree of FILE as a Corvane media server on 127.0.0.1 and ::1, port N\n"
           "(7549 by default; 0 for any free port). Prints the port on a line of its own once it\n"
           "serves. Stops on SIGTERM, SIGINT or a \"Shutdown\" call.\n";
}

bool SimOptions::parse(int argc, const char* const* argv, std::string* error, bool* help) {
    *help = false;
    port = kDefaultPort;
    for (int i = 1; i < argc; ++i) {
        std::string opt = argv[i];
        std::string value;
        bool hasValue = false;
        const size_t eq = opt.find('=');
        if (opt.compare(0, 2, "--") == 0 && eq != std::string::npos) {
            value = opt.substr(eq + 1);
            opt = opt.substr(0, eq);
            hasValue = true;
        }
        if (opt == "--help" || opt == "-h") {
            *help = true;
            return true;
        }
        if (opt == "--no-login") {
            login = false;
            continue;
        }
        static const char* const kWithValue[] = {"--port",     "--tree",         "--version",      "--database",
                                                 "--display-name", "--delay-ms", "--delay-method", "--fail-method",
                                                 "--close-on", "--extra-child", "--call-log"};
        if (std::find_if(std::begin(kWithValue), std::end(kWithValue),
                         [&](const char* o) { return opt == o; }) == std::end(kWithValue))
            return fail(error, "Unknown option '" + opt + "'");
        if (!hasValue) {
            if (i + 1 >= argc)
                return fail(error, "Option '" + opt + "' needs a value");
            value = argv[++i];
        }

        std::string name, text;
        if (opt == "--port") {
            if (!parseInt(value, &port) || port < 0 || port > 65535)
                return fail(error, "Option '--port' needs a port from 0 to 65535, not '" + value + "'");
        } else if (opt == "--tree") {
            treeFile = value;
        } else if (opt == "--version") {
            if (!parseVersion(value, version))
                return fail(error, "Option '--version' needs four numbers A.B.C.D, not '" + value + "'");
        } else if (opt == "--database" || opt == "--display-name") {
            if (value.empty())
                return fail(error, "Option '" + opt + "' needs a non-empty name");
            (opt == "--database" ? database : displayName) = value;
        } else if (opt == "--delay-ms") {
            if (!parseDelay(value, &delayMs))
                return fail(error, "Option '--delay-ms' needs milliseconds from 0 to 3600000, not '" + value + "'");
        } else if (opt == "--delay-method") {
            int ms = 0;
            if (!splitPair(value, &name, &text) || !parseDelay(text, &ms))
                return fail(error, "Option '--delay-method' needs METHOD:MS with MS from 0 to 3600000, not '" +
                                       value + "'");
            if (!isSimMethod(name))
                return fail(error, "Unknown method '" + name + "' in '--delay-method'");
            methodDelayMs[name] = ms;
        } else if (opt == "--fail-method") {
            if (!splitPair(value, &name, &text) || text.empty())
                return fail(error, "Option '--fail-method' needs METHOD:TEXT, not '" + value + "'");
            if (!isSimMethod(name) && name != "_login")
                return fail(error, "Unknown method '" + name + "' in '--fail-method'");
            failures[name] = text;
        } else if (opt == "--call-log") {
            if (value.empty())
                return fail(error, "Option '--call-log' needs a file name");
            callLog = value;
        } else if (opt == "--extra-child") {
            // Node identifiers hold no commas.
            const size_t comma = value.find(',');
            name = value.substr(0, comma);
            text = comma == std::string::npos ? std::string() : value.substr(comma + 1);
            if (comma == std::string::npos || !SimTree::checkNodeId(name).empty() ||
                !SimTree::checkNodeId(text).empty())
                return fail(error, "Option '--extra-child' needs two node identifiers PARENT,CHILD, not '" + value +
                                       "'");
            extraChildren.emplace_back(name, text);
        } else if (opt == "--close-on") {
            if (!isSimMethod(value))
                return fail(error, "Unknown method '" + value + "' in '--close-on'");
            closeOn.push_back(value);
        }
    }
    if (treeFile.empty())
        return fail(error, "Option '--tree' is required");
    return true;
}

int SimOptions::delayFor(const std::string& method) const {
    const auto it = methodDelayMs.find(method);
    return it == methodDelayMs.end() ? delayMs : it->second;
}

CorvaneDaemonInfo SimOptions::daemonInfo(int boundPort, bool ipv6) const {
    CorvaneDaemonInfo info;
    info.setIP(0, "127.0.0.1");
    info.setFrameIP(0, "127.0.0.1");
    if (ipv6) {
        info.setIP(1, "::1");
        info.setFrameIP(1, "::1");
    }
    std::string host;
    info.setHostName(Corvane::CoIoTcpDescriptor::getLocalHostName(host) ? host.c_str() : "localhost");
    info.setDisplayName(displayName.c_str());
    info.setOSType(CorvaneOSType::Linux);
    info.setDatabase(database.c_str());
    info.setNodePort(boundPort);
    info.setFramePort(0);  // there is no frame service
    info.setVersionMajor(version[0]);
    info.setVersionMinor(version[1]);
    info.setVersionMaint(version[2]);
    info.setVersionBuild(version[3]);
    info.setProduct(SimService::kProduct);
    info.setVendor(SimService::kVendor);
    info.setProductVersionMajor(1);
    info.setProductVersionMinor(0);
    info.setProductVersionMaint(0);
    info.setProductBuild(0);
    info.setProductVersionStr("1.0.0");
    info.setStorageId(("corvane-sim-" + database + "-" + std::to_string(boundPort)).c_str());
    return info;
}

}  // namespace CorvaneSim
