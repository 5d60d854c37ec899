// A Debian web server run as a test's child by scripts/serve-stock.sh: the
// distribution's stock configuration with our drop-in from deploy/ enabled
// the way the README says (the CGI one, or the FastCGI one), listening on a
// free port on 127.0.0.1, everything staged in a temporary directory that
// stands for /. Stopped on destruction; one thread uses it.
#pragma once

#include <memory>
#include <string>

#include "support/Process.h"
#include "support/TempDir.h"

namespace CorvaneTest {

enum class WebServerKind { Lighttpd, Apache, Nginx, LighttpdFastCgi, ApacheFastCgi, NginxFastCgi };

class WebServer {
public:
    explicit WebServer(WebServerKind kind);

    static const char* name(WebServerKind kind);
    // What is missing to run it here (its package); empty when nothing is.
    static std::string missing(WebServerKind kind);

    bool started() const { return port_ > 0; }
    // Why it did not start, with its error log.
    std::string error() const { return readFile(dir_.file("var/log/error.log")); }
    // The gateway's working directory, which holds account/.
    std::string stateDir() const { return dir_.file("var/lib/corvane-gateway"); }
    // One HTTP/1.0 request to the server; the whole response, or "" when
    // nothing answered.
    std::string http(const std::string& request) const;
    // Where it listens on 127.0.0.1, for answers read as they stream.
    int port() const { return port_; }

private:
    TempDir dir_;
    std::unique_ptr<ChildProcess> server_;
    int port_ = 0;
};

// The status code of an HTTP response; 0 when there is none.
int httpStatus(const std::string& response);
// What follows the header block.
std::string httpBody(const std::string& response);

}  // namespace CorvaneTest
