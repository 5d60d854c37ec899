#include "support/GatewayRequests.h"

#include <sys/stat.h>

#include <cctype>
#include <chrono>
#include <cstdio>

namespace CorvaneTest {

GatewayRequests::GatewayRequests() { mkdir(dir_.file("account").c_str(), 0755); }

ProcessResult GatewayRequests::timedRun(const std::vector<std::string>& args,
                                        const std::map<std::string, std::string>& env, long long* elapsedMs) const {
    const auto start = std::chrono::steady_clock::now();
    ProcessResult result = run(args, env);
    *elapsedMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    return result;
}

ProcessResult GatewayRequests::get(const std::string& query, const std::map<std::string, std::string>& env) const {
    std::map<std::string, std::string> all = env;
    all["REQUEST_METHOD"] = "GET";
    all["QUERY_STRING"] = query;
    return run({}, all);
}

ProcessResult GatewayRequests::post(const std::string& body, const std::map<std::string, std::string>& env) const {
    std::map<std::string, std::string> all{{"REQUEST_METHOD", "POST"},
                                           {"CONTENT_TYPE", "application/x-www-form-urlencoded"},
                                           {"CONTENT_LENGTH", std::to_string(body.size())}};
    for (const auto& kv : env)
        all[kv.first] = kv.second;
    return run({}, all, body);
}

std::string GatewayRequests::ok(const std::string& body) { return "Content-Type: text/xml\n\n" + body; }

std::string GatewayRequests::error(const std::string& escapedMessage) {
    return ok("<response>\n\n<error>" + escapedMessage + "</error>\n\n</response>\n");
}

bool GatewayRequests::failed(const ProcessResult& result) {
    return result.out.rfind(ok("<response>\n\n<error>"), 0) == 0;
}

std::string GatewayRequests::encode(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c)) {
            out += static_cast<char>(c);
        } else {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", c);
            out += buf;
        }
    }
    return out;
}

}  // namespace CorvaneTest
