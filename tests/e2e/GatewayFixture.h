// Runs build/bin/corvane-gateway as a CGI process in the fixture's working
// directory with only PATH and the given variables in its environment.
#pragma once

#include <memory>

#include "FastCgiGateway.h"
#include "support/GatewayRequests.h"

class GatewayFixture : public CorvaneTest::GatewayRequests {
protected:
    CorvaneTest::ProcessResult serve(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
                                     const std::string& input) const override;
};

// One FastCGI gateway process in the fixture's directory, which must still
// run when the test ends unless the test let it go.
class FastCgiFixture : public GatewayFixture {
protected:
    // Ends the running gateway first. env: more of the gateway's environment.
    void startGateway(const std::map<std::string, std::string>& env = {});
    void TearDown() override;

    std::unique_ptr<FastCgiGateway> gateway_;
};
