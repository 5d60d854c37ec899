#include "ServerListMode.h"

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "CoXmlWriter.h"
#include "RequestLimits.h"
#include "ServerDoor.h"
#include "client/api/CorvaneDaemonInfo.h"
#include "client/api/CorvaneServerHandle.h"

namespace {

struct Listed {
    std::string name, database, host, xml;
};

std::string element(const char* name, const std::string& text) {
    return std::string("<") + name + ">" + CoXmlWriter::escape(text) + "</" + name + ">";
}

// The first "address:nodePort" of the server that the site admits; empty
// for none.
std::string admittedHost(const CorvaneDaemonInfo& info, const ServerDoor& door) {
    for (int i = 0; i < CorvaneDaemonInfo::kMaxAddresses && *info.getIP(i); ++i) {
        const std::string host = std::string(info.getIP(i)) + ":" + std::to_string(info.getNodePort());
        try {
            door.admit(host);
            return host;
        } catch (const std::string&) {
            // Not this address; another may be admitted.
        }
    }
    return std::string();
}

std::string serverXml(const CorvaneDaemonInfo& info, const std::string& host) {
    std::string xml = "<server>" + element("name", info.getDisplayName()) + element("database", info.getDatabase()) +
                      "<addresses>";
    for (int i = 0; i < CorvaneDaemonInfo::kMaxAddresses && *info.getIP(i); ++i)
        xml += element("address", info.getIP(i));
    const std::string version = std::to_string(info.getVersionMajor()) + "." + std::to_string(info.getVersionMinor()) +
                                "." + std::to_string(info.getVersionMaint()) + "." +
                                std::to_string(info.getVersionBuild());
    return xml + "</addresses>" + element("nodePort", std::to_string(info.getNodePort())) +
           element("framePort", std::to_string(info.getFramePort())) + element("version", version) +
           element("local", info.isLocal() ? "true" : "false") + element("host", host) + "</server>";
}

}  // namespace

std::string getServers(const ModeContext& context) {
    std::vector<CorvaneDaemonInfo> found;
    if (!CorvaneServerHandle::discoveredServers(found))
        throw std::string("Server discovery is unavailable");
    std::vector<Listed> listed;
    for (const CorvaneDaemonInfo& info : found) {
        context.limits.checkDeadline();
        const std::string host = admittedHost(info, context.door);
        if (!host.empty())
            listed.push_back({info.getDisplayName(), info.getDatabase(), host, serverXml(info, host)});
    }
    std::sort(listed.begin(), listed.end(), [](const Listed& a, const Listed& b) {
        return std::tie(a.name, a.database, a.host) < std::tie(b.name, b.database, b.host);
    });
    std::string output;
    for (const Listed& server : listed) {
        output += server.xml;
        context.limits.checkResponseSize(output.size());
    }
    return output;
}
