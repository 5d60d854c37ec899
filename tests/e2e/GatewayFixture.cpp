#include "GatewayFixture.h"

using CorvaneTest::ProcessOptions;
using CorvaneTest::ProcessResult;

ProcessResult GatewayFixture::serve(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
                                  const std::string& input) const {
    std::vector<std::string> argv{CorvaneTest::binPath("corvane-gateway")};
    argv.insert(argv.end(), args.begin(), args.end());
    ProcessOptions options;
    options.env = {{"PATH", "/usr/bin:/bin"}};
    for (const auto& kv : env)
        options.env[kv.first] = kv.second;
    options.cwd = dir_.path();
    options.input = input;
    return CorvaneTest::runProcess(argv, options);
}

void FastCgiFixture::startGateway(const std::map<std::string, std::string>& env) {
    gateway_.reset();
    gateway_ = std::make_unique<FastCgiGateway>(dir_.path(), env);
    ASSERT_TRUE(gateway_->started());
}

void FastCgiFixture::TearDown() {
    EXPECT_TRUE(!gateway_ || gateway_->alive()) << "the gateway ended (a sanitizer report?)";
}
