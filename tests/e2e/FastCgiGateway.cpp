#include "FastCgiGateway.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "support/Eventually.h"
#include "support/FastCgiClient.h"
#include "support/TempDir.h"

FastCgiGateway::FastCgiGateway(const std::string& dir, const std::map<std::string, std::string>& env,
                               const std::vector<std::string>& arguments)
    : socket_(dir + "/gateway.socket") {
    CorvaneTest::ProcessOptions options;
    options.env = env;
    options.env["PATH"] = "/usr/bin:/bin";
    const char* tsan = std::getenv("TSAN_OPTIONS");
    options.env["TSAN_OPTIONS"] = std::string(tsan && *tsan ? tsan : "report_signal_unsafe=1") + ":halt_on_error=1";
    options.cwd = dir;
    std::vector<std::string> argv{"spawn-fcgi", "-n", "-s", socket_, "--", CorvaneTest::binPath("corvane-gateway")};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    process_ = std::make_unique<CorvaneTest::ChildProcess>(argv, options);
    // The socket file exists from its bind, before the listen: a connect
    // tells when the gateway's requests would be taken.
    started_ = CorvaneTest::eventually([this] { return CorvaneTest::FastCgiClient(socket_).valid(); });
}

bool FastCgiGateway::alive() const {
    // spawn-fcgi -n becomes the gateway: the child is the gateway itself.
    // WNOWAIT leaves an ended child for its ChildProcess to reap, so that
    // no signal of the ChildProcess can reach a process that took its id.
    siginfo_t info = {};
    return waitid(P_PID, process_->pid(), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == 0;
}

long FastCgiGateway::residentKb() const {
    const std::string status = CorvaneTest::readFile("/proc/" + std::to_string(pid()) + "/status");
    const size_t at = status.find("\nVmRSS:");
    return at == std::string::npos ? -1 : std::strtol(status.c_str() + at + 7, nullptr, 10);
}

double FastCgiGateway::cpuSeconds() const {
    // The fields after the command's closing parenthesis, from the state on:
    // user time is the 12th, system time the 13th, in clock ticks.
    const std::string stat = CorvaneTest::readFile("/proc/" + std::to_string(pid()) + "/stat");
    const size_t end = stat.rfind(')');
    if (end == std::string::npos)
        return -1;
    std::istringstream fields(stat.substr(end + 1));
    std::string field;
    double ticks = 0;
    for (int i = 1; i <= 13 && fields >> field; ++i)
        if (i >= 12)
            ticks += std::stod(field);
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

std::string FastCgiGateway::ask(const std::map<std::string, std::string>& variables, const std::string& body,
                                int timeoutMs) const {
    return CorvaneTest::FastCgiClient::request(socket_, variables, body, timeoutMs);
}

std::map<std::string, std::string> fastCgiGet(const std::string& query, const std::string& user,
                                              const std::map<std::string, std::string>& more) {
    std::map<std::string, std::string> variables{
        {"REQUEST_METHOD", "GET"}, {"QUERY_STRING", query}, {"REMOTE_USER", user}};
    for (const auto& kv : more)
        variables[kv.first] = kv.second;
    return variables;
}

std::map<std::string, std::string> fastCgiPost(size_t length, const std::map<std::string, std::string>& more) {
    std::map<std::string, std::string> variables{{"REQUEST_METHOD", "POST"},
                                                 {"CONTENT_TYPE", "application/x-www-form-urlencoded"},
                                                 {"CONTENT_LENGTH", std::to_string(length)},
                                                 {"REMOTE_USER", "al"}};
    for (const auto& kv : more)
        variables[kv.first] = kv.second;
    return variables;
}
