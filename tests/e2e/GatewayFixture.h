// Runs build/bin/corvane-gateway as a process in a fresh working directory
// (with an ./account directory) and a controlled environment.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "support/Process.h"
#include "support/TempDir.h"

class GatewayFixture : public ::testing::Test {
protected:
    GatewayFixture();

    // Runs the gateway with name=value arguments and extra environment.
    CorvaneTest::ProcessResult run(const std::vector<std::string>& args,
                                   const std::map<std::string, std::string>& env = {},
                                   const std::string& input = "") const;
    // The same request made through CGI GET with a query string.
    CorvaneTest::ProcessResult get(const std::string& query, const std::map<std::string, std::string>& env = {}) const;
    // run(), also measuring how long the gateway took.
    CorvaneTest::ProcessResult timedRun(const std::vector<std::string>& args,
                                        const std::map<std::string, std::string>& env, long long* elapsedMs) const;
    // A url-encoded POST of body.
    CorvaneTest::ProcessResult post(const std::string& body, const std::map<std::string, std::string>& env = {}) const;

    // What the gateway prints for a response body / an error message.
    static std::string ok(const std::string& body);
    static std::string error(const std::string& escapedMessage);
    // Percent-encodes every byte that is not alphanumeric.
    static std::string encode(const std::string& text);

    CorvaneTest::TempDir dir_;
};
