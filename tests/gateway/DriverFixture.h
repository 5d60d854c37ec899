// Serves requests in this process through one persistent GatewayDriver,
// as the FastCGI gateway does: the library stays up across the requests
// of a test. The working directory is the fixture's for the test's span.
#pragma once

#include <string>

#include "GatewayDriver.h"
#include "support/GatewayRequests.h"

// A request's variables, body and output kept in strings. Settings are
// the request's variables only.
class StringIo : public RequestIo {
public:
    StringIo(const std::map<std::string, std::string>& variables, const std::string& body)
        : variables_(variables), body_(body) {}
    const char* variable(const char* name) const override;
    const char* setting(const char* name) const override { return variable(name); }
    size_t readBody(char* buffer, size_t size) override;
    void out(const char* data, size_t size) override { out_.append(data, size); }
    void err(const char* data, size_t size) override { err_.append(data, size); }
    using RequestIo::err;
    using RequestIo::out;

    const std::string& outText() const { return out_; }
    const std::string& errText() const { return err_; }

private:
    std::map<std::string, std::string> variables_;
    std::string body_;
    size_t read_ = 0;
    std::string out_, err_;
};

// One request served by driver: name=value arguments, then the request's
// variables and body.
CorvaneTest::ProcessResult serveOn(GatewayDriver& driver, const std::vector<std::string>& args,
                                   const std::map<std::string, std::string>& env, const std::string& input);

class DriverFixture : public CorvaneTest::GatewayRequests {
protected:
    void SetUp() override;
    void TearDown() override;
    CorvaneTest::ProcessResult serve(const std::vector<std::string>& args, const std::map<std::string, std::string>& env,
                                     const std::string& input) const override;

    mutable GatewayDriver driver_{true};
    std::string previousDir_;
};
