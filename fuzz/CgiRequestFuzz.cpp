// Any bytes as one CGI request, delivered the way a web server delivers it:
// arguments, variables and a POST body.
//
// Framing: byte 0 says which of the five variables are set (one bit each),
// byte 1 how many arguments follow (modulo 8); then the five values and the
// arguments, each ended by a NUL (neither can hold one); the rest, NULs
// included, is the body.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "CgiRequest.h"
#include "FuzzQuiet.h"
#include "RequestIo.h"

namespace {

const char* const kVariables[] = {"REQUEST_METHOD", "QUERY_STRING", "CONTENT_TYPE", "CONTENT_LENGTH", "REMOTE_USER"};
constexpr size_t kVariableCount = sizeof kVariables / sizeof kVariables[0];

// Cuts the next NUL-ended field; an input that ends first gives what is left.
std::string nextField(const uint8_t*& p, const uint8_t* end) {
    const uint8_t* start = p;
    while (p < end && *p)
        ++p;
    std::string field(reinterpret_cast<const char*>(start), static_cast<size_t>(p - start));
    if (p < end)
        ++p;
    return field;
}

// The request as the fuzzer framed it; what it says goes nowhere.
class FuzzIo : public RequestIo {
public:
    FuzzIo(const std::vector<std::string>& names, const std::vector<std::string>& values, const uint8_t* body,
           size_t size)
        : names_(names), values_(values), body_(body), left_(size) {}
    const char* variable(const char* name) const override {
        for (size_t i = 0; i < names_.size(); ++i)
            if (names_[i] == name)
                return values_[i].c_str();
        return nullptr;
    }
    const char* setting(const char* name) const override { return variable(name); }
    size_t readBody(char* buffer, size_t size) override {
        const size_t n = std::min(size, left_);
        std::memcpy(buffer, body_, n);
        body_ += n;
        left_ -= n;
        return n;
    }
    void out(const char*, size_t) override {}
    void err(const char*, size_t) override {}
    using RequestIo::err;
    using RequestIo::out;

private:
    const std::vector<std::string>& names_;
    const std::vector<std::string>& values_;
    const uint8_t* body_;
    size_t left_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const uint8_t* p = data + 2;
    const uint8_t* const end = data + size;
    std::vector<std::string> names, values;
    for (size_t i = 0; i < kVariableCount; ++i) {
        std::string value = nextField(p, end);
        if (data[0] & (1u << i)) {
            names.push_back(kVariables[i]);
            values.push_back(value);
        }
    }
    std::vector<std::string> args;
    for (int i = 0; i < data[1] % 8; ++i)
        args.push_back(nextField(p, end));
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);

    FuzzIo io(names, values, p, static_cast<size_t>(end - p));
    const CgiRequest request(static_cast<int>(args.size()), argv.data(), io);
    for (const char* name : {"Mode", "host", "", "a"})
        (void)request.get(name);
    for (const std::string& a : args)
        (void)request.get(a.substr(0, a.find('=')));
    (void)request.remoteUserName();
    (void)request.parameterWithNul();
    return 0;
}
