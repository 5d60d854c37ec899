#include "support/GatewayRequests.h"

#include <sys/stat.h>

#include <cctype>
#include <chrono>
#include <cstdio>

#include <tinyxml.h>

namespace CorvaneTest {

GatewayRequests::GatewayRequests() { mkdir(dir_.file("account").c_str(), 0755); }

namespace {

// What TinyXML lets through: a bare "&", a broken reference, a control
// character XML can not carry. Empty when text has none of them.
std::string strictnessFault(const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
            return "control character " + std::to_string(c) + " at " + std::to_string(i);
        if (c != '&')
            continue;
        const size_t end = text.find(';', i);
        const std::string ref = text.substr(i + 1, end == std::string::npos ? 0 : end - i - 1);
        const bool number = ref.size() > 1 && ref[0] == '#' &&
                            ref.find_first_not_of(ref[1] == 'x' ? "0123456789abcdefABCDEF" : "0123456789",
                                                  ref[1] == 'x' ? 2 : 1) == std::string::npos;
        if (!number && ref != "amp" && ref != "lt" && ref != "gt" && ref != "quot" && ref != "apos")
            return "bare & at " + std::to_string(i);
    }
    return std::string();
}

}  // namespace

ProcessResult GatewayRequests::run(const std::vector<std::string>& args,
                                   const std::map<std::string, std::string>& env, const std::string& input) const {
    ProcessResult result = serve(args, env, input);
    const size_t body = result.out.find("\n\n");
    if (wellFormed_ && body != std::string::npos) {
        const std::string text = result.out.substr(body + 2);
        TiXmlDocument document;
        document.Parse(text.c_str());
        const std::string fault = document.Error() ? document.ErrorDesc() : strictnessFault(text);
        EXPECT_EQ(fault, "") << "the answer is not well-formed XML: " << result.out;
    }
    return result;
}

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

const char GatewayRequests::kHeader[] =
    "Content-Type: text/xml\n"
    "X-Content-Type-Options: nosniff\n"
    "Content-Security-Policy: default-src 'none'; frame-ancestors 'none'; sandbox\n"
    "Cache-Control: no-store\n\n";

std::string GatewayRequests::ok(const std::string& body) { return kHeader + body; }

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
