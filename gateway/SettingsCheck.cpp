#include "SettingsCheck.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>

#include "CgiRequest.h"
#include "ServerPolicy.h"
#include "base/loggerBase/CoMsg.h"
#include "base/network/CoNetworkConfig.h"

namespace {

enum class Kind { Number, Flag, Text, Level, Servers, Origins, File };

// The settings the gateway and its library read.
const std::map<std::string, Kind>& knownSettings() {
    static const std::map<std::string, Kind> known{
        {"XQ_CVC_BROWSE_TIMEOUT", Kind::Number},      {"CORVANE_REQUEST_TIMEOUT", Kind::Number},
        {"CORVANE_BODY_TIMEOUT", Kind::Number},       {"CORVANE_MAX_NODES", Kind::Number},
        {"CORVANE_MAX_RESPONSE_BYTES", Kind::Number}, {"CORVANE_FASTCGI_THREADS", Kind::Number},
        {"CORVANE_MAX_USER_REQUESTS", Kind::Number},  {"CORVANE_LOGIN_TIMEOUT", Kind::Number},
        {"CORVANE_SHARED_CONNECTIONS", Kind::Number}, {"CORVANE_MULTICAST_DEBUG", Kind::Number},
        {"CORVANE_MULTICAST_RESYNC_TIME", Kind::Number}, {"CORVANE_SLOW_REQUEST_MS", Kind::Number},
        {"XQ_MSGQ_BUFSIZE", Kind::Number},            {"XQ_DIO_OPTIMAL_CHUNK_SIZE", Kind::Number},
        {"XQ_CORVANE_REDIRECTION_CACHE_SIZE", Kind::Number},
        {"CORVANE_ALLOW_GET_WRITES", Kind::Flag},     {"CORVANE_ACCOUNT_STRIP_DOMAIN", Kind::Flag},
        {"CORVANE_ACCESS_LOG", Kind::Flag},           {"CORVANE_TRUSTED_ORIGINS", Kind::Origins},
        {"CORVANE_ALLOWED_SERVERS", Kind::Servers},   {"CORVANE_STATUS_USERS", Kind::Text},
        {"CORVANE_NETWORK_CONFIG", Kind::File},       {"XQ_MSG_LEVEL", Kind::Level},
        {"XQ_VERBOSE_EXCEPTIONS", Kind::Text},        {"XQ_TCP_IPV6", Kind::Text},
        {"XQ_TCP_DISABLE_IPV6", Kind::Text},          {"XQ_TCP_DISABLE_IPV4", Kind::Text},
        {"XQ_BDSIO_DISABLE", Kind::Text},             {"XQ_DISABLE_DIRECT_IO", Kind::Text},
        {"XQ_RTMON", Kind::Text},                     {"XQ_DSO_RLD_NOW", Kind::Text},
        {"XQ_DSO_DEBUG", Kind::Text},                 {"XQ_USE_PURE_DSO", Kind::Text},
        {"XQ_CO_FILE_SCANNER_DEBUG", Kind::Text},     {"XQ_CHOWN_NUM_RETRIES", Kind::Number},
        {"XQ_PTHREAD_STACK_SIZE", Kind::Number},      {"XQ_TCP_FORK_ON_CONN_DELAY", Kind::Number},
        {"XQ_CORVANE_TRACE", Kind::Flag},             {"XQ_MSG_VERBOSE", Kind::Flag},
        {"XQ_DISABLE_STACK_SIZE_SETTING", Kind::Flag}, {"XQ_SUID_DEBUG", Kind::Flag},
        {"XQ_THREAD_DEBUG", Kind::Flag},
        {"CORVANE_MAX_WATCH_NODES", Kind::Number},    {"CORVANE_MAX_WATCHERS", Kind::Number},
        {"CORVANE_MAX_USER_WATCHERS", Kind::Number},  {"CORVANE_WATCH_SECONDS", Kind::Number},
        {"CORVANE_DISCOVERY", Kind::Text},            {"CORVANE_SERVER_CONNECTIONS", Kind::Number},
    };
    return known;
}

bool allDigits(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

std::string setting(const std::string& name, const std::string& value) { return name + "='" + value + "'"; }

// Each entry alone, so that every bad one gets its line; a host name must
// resolve, as the gateway looks it up at request time.
void checkServers(const std::string& value, std::vector<std::string>* problems) {
    std::vector<std::string> entries;
    CgiRequest::splitString(value, entries, " \t\n,");
    for (const std::string& entry : entries) {
        try {
            // The address listed beside it lets the check pass before any
            // lookup or discovery.
            ServerPolicy((entry + " 127.0.0.1").c_str()).check("127.0.0.1");
        } catch (const std::string& message) {
            if (message.find("is not a host, address or range") != std::string::npos) {
                problems->push_back("CORVANE_ALLOWED_SERVERS: the entry '" + entry +
                                    "' is not a host, address, range or 'discovered'");
                continue;
            }
        }
        std::string host;
        int port;
        if (entry == "discovered" || !ServerPolicy::parse(entry, &host, &port))
            continue;  // a range, an IPv6 entry or "discovered"; an address resolves to itself
        addrinfo hints{};
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        const int error = getaddrinfo(host.c_str(), nullptr, &hints, &found);
        if (error != 0)
            problems->push_back("CORVANE_ALLOWED_SERVERS: the name '" + host + "' does not resolve: " +
                                gai_strerror(error));
        else
            freeaddrinfo(found);
    }
}

void checkOrigins(const std::string& value, std::vector<std::string>* problems) {
    std::vector<std::string> origins;
    CgiRequest::splitString(value, origins, " \t\n");
    for (const std::string& origin : origins) {
        const size_t scheme = origin.find("://");
        const bool ok = scheme != std::string::npos &&
                        (origin.substr(0, scheme) == "http" || origin.substr(0, scheme) == "https") &&
                        origin.size() > scheme + 3 && origin.find_first_of("/?#@", scheme + 3) == std::string::npos;
        if (!ok)
            problems->push_back("CORVANE_TRUSTED_ORIGINS: '" + origin +
                                "' is not an origin such as https://host:port");
    }
}

void checkValue(const std::string& name, const std::string& value, Kind kind, std::vector<std::string>* problems) {
    switch (kind) {
    case Kind::Number:
        if (!allDigits(value))
            problems->push_back(setting(name, value) + " is not a whole number");
        break;
    case Kind::Flag:
        if (value != "0" && value != "1" && value != "true" && value != "false")
            problems->push_back(setting(name, value) + " is not 0 or 1");
        break;
    case Kind::Level:
        if (!value.empty() && Corvane::CoMsg::levelFromString(value.c_str()) < 0)
            problems->push_back(setting(name, value) + " is not one of user, error, warn, notice, debug");
        break;
    case Kind::Servers:
        checkServers(value, problems);
        break;
    case Kind::Origins:
        checkOrigins(value, problems);
        break;
    case Kind::File:
    case Kind::Text:
        break;
    }
}

// Collects what the file reader warns about, as problems of the file.
class Collector : public Corvane::CoMsg::Router {
public:
    Collector(const std::string& file, std::vector<std::string>* problems) : file_(file), problems_(problems) {}
    void route(const Corvane::CoMsg::Record& record) override {
        std::string text = record.text;
        while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
            text.pop_back();
        problems_->push_back(file_ + ": " + text);
    }

private:
    const std::string file_;
    std::vector<std::string>* problems_;
};

void checkNetworkFile(const char* named, std::vector<std::string>* problems) {
    using Config = Corvane::CoNetworkConfig;
    const std::string file = named && *named ? named : Config::CFG_FILE_NAME;
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) {
        if (named && *named)
            problems->push_back("CORVANE_NETWORK_CONFIG: '" + file + "' does not exist");
        return;  // no file: every default applies
    }
    // The first question reads the file: what the reading warns of (a line
    // it can not read, a file it can not open, a bad UUID) comes to the
    // collector.
    Config& config = Config::instance();
    Collector collector(file, problems);
    Corvane::CoMsg::Router* previous = Corvane::CoMsg::setRouter(&collector);
    const int level = Corvane::CoMsg::getLevel();
    Corvane::CoMsg::setLevel(Corvane::CoMsg::warning);
    std::string uuid;
    config.getUUID(uuid);
    Corvane::CoMsg::setLevel(level);
    Corvane::CoMsg::setRouter(previous);
    std::string scope;
    in6_addr address{};
    if (config.getSelfDiscoveryScope(scope) && !scope.empty() && inet_pton(AF_INET, scope.c_str(), &address) != 1 &&
        inet_pton(AF_INET6, scope.c_str(), &address) != 1)
        problems->push_back(file + ": [SelfDiscovery] Scope '" + scope + "' is not a multicast address");
}

// The account files live in ./account, which this user must be able to
// list, read and write.
void checkAccountDirectory(std::vector<std::string>* problems) {
    struct stat info {};
    if (::stat("account", &info) != 0 || !S_ISDIR(info.st_mode)) {
        problems->push_back("./account: not a directory (Invalid account directory)");
        return;
    }
    if (::access("account", R_OK | W_OK | X_OK) != 0) {
        const int err = errno;
        problems->push_back(std::string("./account: this user can not read and write it: ") + std::strerror(err));
    }
}

}  // namespace

std::vector<std::string> settingsProblems(const std::vector<std::string>& environment) {
    std::vector<std::string> problems;
    const char* networkFile = nullptr;
    for (const std::string& entry : environment) {
        const size_t equals = entry.find('=');
        const std::string name = entry.substr(0, equals);
        const std::string value = equals == std::string::npos ? std::string() : entry.substr(equals + 1);
        if (name.compare(0, 8, "CORVANE_") != 0 && name.compare(0, 3, "XQ_") != 0)
            continue;
        const auto known = knownSettings().find(name);
        if (known == knownSettings().end()) {
            problems.push_back("'" + name + "' is no setting of the gateway");
            continue;
        }
        const Kind kind = known->second;
        if (name == "CORVANE_NETWORK_CONFIG")
            networkFile = entry.c_str() + equals + 1;
        checkValue(name, value, kind, &problems);
    }
    checkNetworkFile(networkFile, &problems);
    checkAccountDirectory(&problems);
    return problems;
}
