// A test fixture that sends requests to the gateway and checks its
// answers: run() is the gateway as a process (GatewayFixture) or in this
// process through its driver (DriverFixture); the helpers here build GET
// and POST requests on it and the answers to expect. Requests run in a
// fresh working directory with an ./account directory.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "support/Process.h"
#include "support/TempDir.h"

namespace CorvaneTest {

class GatewayRequests : public ::testing::Test {
protected:
    GatewayRequests();

    // One request: name=value arguments, CGI variables (and settings),
    // the body. exitStatus is the process's, 0 in this process. The
    // answer must be a well-formed XML document unless the test said that
    // it stores content that is not (allowMalformedContent).
    ProcessResult run(const std::vector<std::string>& args, const std::map<std::string, std::string>& env = {},
                      const std::string& input = "") const;
    // The request as the fixture serves it.
    virtual ProcessResult serve(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
                                const std::string& input) const = 0;
    // For tests that store metadata or documents that are not XML.
    void allowMalformedContent() { wellFormed_ = false; }
    // The same request made through CGI GET with a query string.
    ProcessResult get(const std::string& query, const std::map<std::string, std::string>& env = {}) const;
    // run(), also measuring how long the gateway took.
    ProcessResult timedRun(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
                           long long* elapsedMs) const;
    // A url-encoded POST of body.
    ProcessResult post(const std::string& body, const std::map<std::string, std::string>& env = {}) const;

    // The header block of every answer.
    static const char kHeader[];
    // What the gateway prints for a response body / an error message.
    static std::string ok(const std::string& body);
    static std::string error(const std::string& escapedMessage);
    static bool failed(const ProcessResult& result);
    // Percent-encodes every byte that is not alphanumeric.
    static std::string encode(const std::string& text);

    TempDir dir_;

private:
    bool wellFormed_ = true;
};

}  // namespace CorvaneTest
