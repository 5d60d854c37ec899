#include "support/WebServer.h"

#include <unistd.h>

#include <cstdlib>

#include "support/LoopbackListener.h"

namespace CorvaneTest {

namespace {

struct ServerFacts {
    const char* name;
    const char* kind;  // scripts/serve-stock.sh's
    const char* program;
    const char* helper;  // a second program it needs, or null
};

const ServerFacts& facts(WebServerKind kind) {
    static const ServerFacts table[] = {
        {"lighttpd", "lighttpd", "/usr/sbin/lighttpd", nullptr},
        {"apache2", "apache2", "/usr/sbin/apache2", nullptr},
        {"nginx", "nginx", "/usr/sbin/nginx", "/usr/sbin/fcgiwrap"},
        {"lighttpdFastCgi", "lighttpd-fastcgi", "/usr/sbin/lighttpd", nullptr},
        {"apache2FastCgi", "apache2-fastcgi", "/usr/sbin/apache2", "/usr/bin/spawn-fcgi"},
        {"nginxFastCgi", "nginx-fastcgi", "/usr/sbin/nginx", "/usr/bin/spawn-fcgi"},
    };
    return table[static_cast<int>(kind)];
}

}  // namespace

WebServer::WebServer(WebServerKind kind) {
    const std::vector<std::string> argv = {sourcePath("scripts/serve-stock.sh"), facts(kind).kind, dir_.path()};
    ProcessOptions options;
    options.env = {{"PATH", "/usr/sbin:/usr/bin:/sbin:/bin"}, {"BUILD", std::string(CORVANE_BIN_DIR) + "/.."}};
    server_ = std::make_unique<ChildProcess>(argv, options);
    port_ = std::atoi(server_->readLine(60000).c_str());
}

const char* WebServer::name(WebServerKind kind) { return facts(kind).name; }

std::string WebServer::missing(WebServerKind kind) {
    const ServerFacts& f = facts(kind);
    for (const char* path : {f.program, f.helper})
        if (path && ::access(path, X_OK) != 0)
            return std::string(path) + " is missing (scripts/install-deps.sh installs it)";
    return std::string();
}

std::string WebServer::http(const std::string& request) const {
    const ScopedFd fd = connectLoopback(port_);
    if (!fd.valid() || !sendAll(fd.get(), request))
        return std::string();
    return recvUpTo(fd.get(), std::string::npos, 10000);
}

int httpStatus(const std::string& response) {
    if (response.compare(0, 5, "HTTP/") != 0 || response.find(' ') == std::string::npos)
        return 0;
    return std::atoi(response.c_str() + response.find(' ') + 1);
}

std::string httpBody(const std::string& response) {
    const size_t end = response.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : response.substr(end + 4);
}

}  // namespace CorvaneTest
