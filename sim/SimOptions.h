// Internal to corvane_sim.
// The command line of corvane-sim: where to listen, which tree to serve,
// how the server describes itself, and the faults it plays for tests. A
// plain value.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

class CorvaneDaemonInfo;

namespace CorvaneSim {

struct SimOptions {
    int port = -1;  // 0: any free port
    std::string treeFile;
    int version[4] = {2014, 0, 0, 6115};
    std::string database = "OBRAN";
    std::string displayName = "corvane-sim";
    bool login = true;  // false: the server does not know "_login"

    // Faults, all chosen by method name.
    int delayMs = 0;                           // before every reply
    std::map<std::string, int> methodDelayMs;  // replaces delayMs for one method
    std::map<std::string, std::string> failures;
    std::vector<std::string> closeOn;
    // Answered with a line of bytes that is no reply, or with the first
    // half of the reply; the connection is closed after either.
    std::vector<std::string> garbageOn;
    std::vector<std::string> cutReplyOn;
    // (PARENT, CHILD): CHILD is listed as one more child of PARENT, which
    // makes a loop when CHILD is PARENT or one of its ancestors.
    std::vector<std::pair<std::string, std::string>> extraChildren;
    // Each call is appended here as it arrives: the method, a blank and
    // the argument text with newlines shown as "\n". Empty: no log.
    std::string callLog;

    // Discovery. The interface address is where announcements and replies
    // leave from, and one more address the server listens on; loopback by
    // default, so that a server started by hand is heard on this host only.
    bool discovery = true;  // false: --no-discovery, a server that answers none
    int discoveryPort = 7555;
    std::string discoveryGroup = "224.0.0.1";
    int discoveryTtl = 1;
    std::string discoveryInterface = "127.0.0.1";
    int announceEverySec = 0;  // 0: only at start
    std::string storageId;     // empty: corvane-sim-<database>-<port>
    std::string hostUuid;

    // Frames. The frame service listens where the server does, on
    // framePort (0: any free port; main stores the bound one back here, for
    // the record), and on a local socket file when one is asked for.
    int framePort = 0;
    std::string localSocket;  // a path, "auto" for the name clients look for, empty for none
    std::string fileDir;      // PullFile and PushFile stay inside it; empty: refused
    std::string redirectTo;   // HOST:PORT of the server ReadAheadRedirect sends clients to

    // Reads argv[1..argc-1]. False with *error set (naming the option) on
    // anything it can not use; *help is set by --help.
    bool parse(int argc, const char* const* argv, std::string* error, bool* help);
    static const char* usage();

    // The delay of one method's reply.
    int delayFor(const std::string& method) const;

    // The record the server answers "GetDaemonInfo" with, once it listens
    // on port (and on ::1 too when ipv6).
    CorvaneDaemonInfo daemonInfo(int port, bool ipv6) const;
    // The local socket file to listen on; empty for none. Call it once
    // framePort holds the bound port.
    std::string localSocketPath() const;
    // The addresses the server listens on and lists, in the record's order:
    // the discovery interface first, then 127.0.0.1, then ::1 when ipv6.
    std::vector<std::string> addresses(bool ipv6) const;
};

}  // namespace CorvaneSim
