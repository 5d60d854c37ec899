// Runs build/bin/corvane-gateway as a CGI process in the fixture's working
// directory with only PATH and the given variables in its environment.
#pragma once

#include "support/GatewayRequests.h"

class GatewayFixture : public CorvaneTest::GatewayRequests {
protected:
    CorvaneTest::ProcessResult serve(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
                                     const std::string& input) const override;
};
