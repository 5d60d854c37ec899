// build/bin/corvane-gateway as a FastCGI server, started by spawn-fcgi on
// a socket file in a given directory as nginx and Apache use it, with only
// PATH and the given variables in its environment. A ThreadSanitizer
// build's gateway ends at its first report, so that a race shows as a
// gateway that is gone.
#pragma once

#include <sys/types.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/Process.h"

class FastCgiGateway {
public:
    // dir: the working directory, which holds account/ and the socket.
    // arguments: the program's command line after its name.
    FastCgiGateway(const std::string& dir, const std::map<std::string, std::string>& env = {},
                   const std::vector<std::string>& arguments = {});

    // False when the socket did not take connections.
    bool started() const { return started_; }
    const std::string& socket() const { return socket_; }
    pid_t pid() const { return process_->pid(); }
    // True while the process runs.
    bool alive() const;
    // SIGTERM, then SIGKILL after timeoutMs; the wait status.
    int stop(int timeoutMs = 5000) { return process_->stop(timeoutMs); }
    // Its resident size, in kB; -1 when it can not be read.
    long residentKb() const;
    // The processor time it has taken, user and system; -1 when unknown.
    double cpuSeconds() const;
    // One whole request on a connection of its own: the answer, or "".
    std::string ask(const std::map<std::string, std::string>& variables, const std::string& body = "",
                    int timeoutMs = 10000) const;

private:
    std::string socket_;
    std::unique_ptr<CorvaneTest::ChildProcess> process_;
    bool started_ = false;
};

// A web server's variables for a GET of query by user, and for a
// url-encoded POST of length bytes by "al"; more adds to them or replaces.
std::map<std::string, std::string> fastCgiGet(const std::string& query, const std::string& user = "al",
                                              const std::map<std::string, std::string>& more = {});
std::map<std::string, std::string> fastCgiPost(size_t length, const std::map<std::string, std::string>& more = {});
