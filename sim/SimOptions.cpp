#include "sim/SimOptions.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstdio>

#include "base/tcp/CoIoTcpDescriptor.h"
#include "client/api/CorvaneDaemonInfo.h"
#include "client/api/CorvaneOSType.h"
#include "sim/SimArgs.h"
#include "sim/SimService.h"
#include "sim/SimTree.h"

namespace CorvaneSim {

namespace {

constexpr int kDefaultPort = 7549;
constexpr int kMaxDelayMs = 3600 * 1000;
constexpr int kMaxAnnounceEverySec = 24 * 3600;

bool isSimMethod(const std::string& name) {
    const std::vector<std::string>& names = SimService::methodNames();
    return std::find(names.begin(), names.end(), name) != names.end();
}

bool fail(std::string* error, const std::string& text) {
    *error = text;
    return false;
}

// A mistyped name is easier to fix with the right ones in view.
bool failUnknownMethod(std::string* error, const std::string& name, const std::string& opt, bool withLogin) {
    std::string valid = withLogin ? "_login" : "";
    for (const std::string& method : SimService::methodNames())
        valid += (valid.empty() ? "" : ", ") + method;
    return fail(error, "Unknown method '" + name + "' in '" + opt + "'; valid methods: " + valid);
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

// What a numeric address is; family 0 for any other text.
struct AddressKind {
    int family = 0;
    bool multicast = false;
    bool unspecified = false;  // 0.0.0.0 or ::, which means every interface
};

AddressKind addressKind(const std::string& text) {
    AddressKind kind;
    in_addr v4;
    in6_addr v6;
    if (::inet_pton(AF_INET, text.c_str(), &v4) == 1) {
        kind.family = AF_INET;
        kind.multicast = IN_MULTICAST(ntohl(v4.s_addr));
        kind.unspecified = v4.s_addr == htonl(INADDR_ANY);
    } else if (::inet_pton(AF_INET6, text.c_str(), &v6) == 1) {
        kind.family = AF_INET6;
        kind.multicast = IN6_IS_ADDR_MULTICAST(&v6);
        kind.unspecified = IN6_IS_ADDR_UNSPECIFIED(&v6);
    }
    return kind;
}

bool parseRange(const std::string& opt, const std::string& value, int low, int high, int* out, std::string* error) {
    if (parseInt(value, out) && *out >= low && *out <= high)
        return true;
    return fail(error, "Option '" + opt + "' needs a number from " + std::to_string(low) + " to " +
                           std::to_string(high) + ", not '" + value + "'");
}

// The options of discovery and identity; false with *error set for a bad
// value.
bool parseDiscovery(const std::string& opt, const std::string& value, SimOptions* o, std::string* error) {
    const AddressKind kind = addressKind(value);
    if (opt == "--discovery-port")
        return parseRange(opt, value, 1, 65535, &o->discoveryPort, error);
    if (opt == "--discovery-ttl")
        return parseRange(opt, value, 0, 255, &o->discoveryTtl, error);
    if (opt == "--announce-every")
        return parseRange(opt, value, 1, kMaxAnnounceEverySec, &o->announceEverySec, error);
    if (opt == "--discovery-group") {
        if (kind.family == 0 || !kind.multicast)
            return fail(error, "Option '--discovery-group' needs a multicast address, not '" + value + "'");
        o->discoveryGroup = value;
    } else if (opt == "--discovery-interface") {
        // The server also listens there: "every interface" would defeat
        // keeping it on one.
        if (kind.family == 0 || kind.multicast || kind.unspecified)
            return fail(error,
                        "Option '--discovery-interface' needs the address of one interface, not '" + value + "'");
        o->discoveryInterface = value;
    } else if (opt == "--storage-id") {
        if (value.empty())
            return fail(error, "Option '--storage-id' needs a non-empty identifier");
        o->storageId = value;
    } else if (opt == "--host-uuid") {
        o->hostUuid = value;
    }
    return true;
}

// Announcements go to the group from the interface: one family for both.
bool checkDiscoveryFamilies(const SimOptions& o, std::string* error) {
    if (addressKind(o.discoveryGroup).family == addressKind(o.discoveryInterface).family)
        return true;
    return fail(error, "Options '--discovery-group' and '--discovery-interface' need addresses of one family, not '" +
                           o.discoveryGroup + "' and '" + o.discoveryInterface + "'");
}

}  // namespace

const char* SimOptions::usage() {
    return "Usage: corvane-sim --tree FILE [--port N] [--version A.B.C.D] [--database NAME]\n"
           "                   [--display-name NAME] [--no-login]\n"
           "                   [--delay-ms MS] [--delay-method METHOD:MS] [--fail-method METHOD:TEXT]\n"
           "                   [--close-on METHOD] [--garbage-on METHOD] [--cut-reply-on METHOD]\n"
           "                   [--extra-child PARENT,CHILD] [--call-log FILE]\n"
           "                   [--storage-id ID] [--host-uuid UUID] [--no-discovery]\n"
           "                   [--discovery-port N] [--discovery-group ADDR] [--discovery-ttl N]\n"
           "                   [--discovery-interface ADDR] [--announce-every SECONDS]\n"
           "                   [--frame-port N] [--local-socket PATH|auto] [--file-dir DIR]\n"
           "                   [--redirect-to HOST:PORT]\n"
           "Serves the node tree of FILE as a Corvane media server on 127.0.0.1 and ::1, port N\n"
           "(7549 by default; 0 for any free port), and on the discovery interface's address\n"
           "when that is not loopback. Prints the port on a line of its own once it serves.\n"
           "Stops on SIGTERM, SIGINT or a \"Shutdown\" call.\n"
           "Discovery: announces itself on group 224.0.0.1, UDP port 7555, TTL 1 at start (and every\n"
           "SECONDS with --announce-every), from the interface address ADDR (127.0.0.1 by default);\n"
           "answers the searches its record satisfies; says goodbye on exit. --no-discovery: none\n"
           "of it.\n"
           "Frames: served on the same addresses, port N of --frame-port (any free port by default),\n"
           "and on the socket file PATH (auto: where clients on this host look for it). PullFile and\n"
           "PushFile work inside DIR only. ReadAheadRedirect sends clients to the server at\n"
           "HOST:PORT for the frames this one does not hold.\n";
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
        if (opt == "--no-login" || opt == "--no-discovery") {
            (opt == "--no-login" ? login : discovery) = false;
            continue;
        }
        static const char* const kWithValue[] = {"--port",
                                                 "--tree",
                                                 "--version",
                                                 "--database",
                                                 "--display-name",
                                                 "--delay-ms",
                                                 "--delay-method",
                                                 "--fail-method",
                                                 "--close-on",
                                                 "--garbage-on",
                                                 "--cut-reply-on",
                                                 "--extra-child",
                                                 "--call-log",
                                                 "--storage-id",
                                                 "--host-uuid",
                                                 "--discovery-port",
                                                 "--discovery-group",
                                                 "--discovery-ttl",
                                                 "--discovery-interface",
                                                 "--announce-every",
                                                 "--frame-port",
                                                 "--local-socket",
                                                 "--file-dir",
                                                 "--redirect-to"};
        if (std::find_if(std::begin(kWithValue), std::end(kWithValue), [&](const char* o) { return opt == o; }) ==
            std::end(kWithValue))
            return fail(error, "Unknown option '" + opt + "'");
        if (!hasValue) {
            if (i + 1 >= argc)
                return fail(error, "Option '" + opt + "' needs a value");
            value = argv[++i];
        }

        std::string name, text;
        if (opt == "--storage-id" || opt == "--host-uuid" || opt.compare(0, 12, "--discovery-") == 0 ||
            opt == "--announce-every") {
            if (!parseDiscovery(opt, value, this, error))
                return false;
        } else if (opt == "--port" || opt == "--frame-port") {
            int& target = opt == "--port" ? port : framePort;
            if (!parseInt(value, &target) || target < 0 || target > 65535)
                return fail(error, "Option '" + opt + "' needs a port from 0 to 65535, not '" + value + "'");
        } else if (opt == "--local-socket" || opt == "--file-dir") {
            if (value.empty())
                return fail(error, "Option '" + opt + "' needs a path");
            (opt == "--local-socket" ? localSocket : fileDir) = value;
        } else if (opt == "--redirect-to") {
            // At the last colon, so that an IPv6 address may stand as HOST.
            const size_t colon = value.rfind(':');
            int target = 0;
            if (colon == std::string::npos || colon == 0 || !parseInt(value.substr(colon + 1), &target) ||
                target <= 0 || target > 65535)
                return fail(error, "Option '--redirect-to' needs HOST:PORT, not '" + value + "'");
            redirectTo = value;
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
                return fail(error,
                            "Option '--delay-method' needs METHOD:MS with MS from 0 to 3600000, not '" + value + "'");
            if (!isSimMethod(name))
                return failUnknownMethod(error, name, opt, false);
            methodDelayMs[name] = ms;
        } else if (opt == "--fail-method") {
            if (!splitPair(value, &name, &text) || text.empty())
                return fail(error, "Option '--fail-method' needs METHOD:TEXT, not '" + value + "'");
            if (!isSimMethod(name) && name != "_login")
                return failUnknownMethod(error, name, opt, true);
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
                return fail(error,
                            "Option '--extra-child' needs two node identifiers PARENT,CHILD, not '" + value + "'");
            extraChildren.emplace_back(name, text);
        } else if (opt == "--close-on" || opt == "--garbage-on" || opt == "--cut-reply-on") {
            if (!isSimMethod(value))
                return failUnknownMethod(error, value, opt, false);
            (opt == "--close-on" ? closeOn : opt == "--garbage-on" ? garbageOn : cutReplyOn).push_back(value);
        }
    }
    if (treeFile.empty())
        return fail(error, "Option '--tree' is required");
    return checkDiscoveryFamilies(*this, error);
}

int SimOptions::delayFor(const std::string& method) const {
    const auto it = methodDelayMs.find(method);
    return it == methodDelayMs.end() ? delayMs : it->second;
}

std::string SimOptions::localSocketPath() const {
    if (localSocket != "auto")
        return localSocket;
    CorvaneDaemonInfo info;
    info.setDatabase(database.c_str());
    info.setFramePort(framePort);
    return info.getMsgQName();
}

std::vector<std::string> SimOptions::addresses(bool ipv6) const {
    std::vector<std::string> out;
    for (const std::string& a : {discoveryInterface, std::string("127.0.0.1"), std::string("::1")}) {
        if ((ipv6 || a != "::1") && std::find(out.begin(), out.end(), a) == out.end())
            out.push_back(a);
    }
    return out;
}

CorvaneDaemonInfo SimOptions::daemonInfo(int boundPort, bool ipv6) const {
    CorvaneDaemonInfo info;
    const std::vector<std::string> listed = addresses(ipv6);
    for (size_t i = 0; i < listed.size(); ++i) {
        info.setIP(static_cast<int>(i), listed[i].c_str());
        info.setFrameIP(static_cast<int>(i), listed[i].c_str());
    }
    std::string host;
    info.setHostName(Corvane::CoIoTcpDescriptor::getLocalHostName(host) ? host.c_str() : "localhost");
    info.setDisplayName(displayName.c_str());
    info.setOSType(CorvaneOSType::Linux);
    info.setDatabase(database.c_str());
    info.setNodePort(boundPort);
    info.setFramePort(framePort);
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
    const std::string storage =
        storageId.empty() ? "corvane-sim-" + database + "-" + std::to_string(boundPort) : storageId;
    info.setStorageId(storage.c_str());
    info.setHostUUID(hostUuid.c_str());
    return info;
}

}  // namespace CorvaneSim
