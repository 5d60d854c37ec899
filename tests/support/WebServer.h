// A Debian web server run as a test's child: the distribution's stock
// configuration (/etc/lighttpd, /etc/apache2, or /etc/nginx with fcgiwrap)
// copied to a temporary directory, our drop-in from deploy/ enabled the way
// the README says (the CGI one, or the FastCGI one: lighttpd starting the
// gateway itself, Apache and nginx passing to spawn-fcgi's), listening on a free port on 127.0.0.1. The temporary
// directory stands for / : it is the document root (the worst a deployer
// could pick), and what the package and the drop-in place move into it: the
// program in usr/bin, its working directory var/lib/corvane-gateway (the
// link to the program and account/), the password file with alice:secret,
// logs and sockets. Nothing of the
// system's is touched and no service is started. Run as root, the servers switch to www-data as their
// services do, so the working directory and logs are handed to that user.
// Stopped on destruction; one thread uses it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/Process.h"
#include "support/TempDir.h"

namespace CorvaneTest {

enum class WebServerKind { Lighttpd, Apache, Nginx, LighttpdFastCgi, ApacheFastCgi, NginxFastCgi };

class WebServer {
public:
    // postOnly enables the drop-in's lines that let only POST requests in.
    explicit WebServer(WebServerKind kind, bool postOnly = false);
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    static const char* name(WebServerKind kind);
    // What is missing to run it here (its package); empty when nothing is.
    static std::string missing(WebServerKind kind);

    bool started() const { return port_ > 0; }
    // Why it did not start, with its error log.
    const std::string& error() const { return error_; }
    // The gateway's working directory, which holds account/.
    std::string stateDir() const { return dir_.file("var/lib/corvane-gateway"); }
    // One HTTP/1.0 request to the server; the whole response, or "" when
    // nothing answered.
    std::string http(const std::string& request) const;

private:
    bool stage(int port);
    bool stageLighttpd(int port);
    bool stageApache(int port);
    bool stageNginx(int port);
    bool startAndWait();
    // The helper that serves the gateway's socket (fcgiwrap, spawn-fcgi),
    // run as the service user from dir.
    bool startHelper(const std::vector<std::string>& argv, const std::string& dir, const std::string& socket);
    // The stock file /etc/<server>/relative with every edit made (each must
    // apply), written to target in the copy.
    bool editStock(const std::string& relative, const std::string& target,
                   const std::vector<std::pair<std::string, std::string>>& edits);
    bool fail(const std::string& text);

    WebServerKind kind_;
    TempDir dir_;
    std::string etc_;  // the copy of /etc/<server>
    std::vector<std::string> argv_;
    ProcessOptions options_;
    std::unique_ptr<ChildProcess> helper_;  // fcgiwrap or spawn-fcgi's gateway
    std::unique_ptr<ChildProcess> server_;
    int port_ = 0;
    std::string error_;
};

// The status code of an HTTP response; 0 when there is none.
int httpStatus(const std::string& response);
// What follows the header block.
std::string httpBody(const std::string& response);

}  // namespace CorvaneTest
