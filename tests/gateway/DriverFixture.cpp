#include "DriverFixture.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

const char* StringIo::variable(const char* name) const {
    const auto it = variables_.find(name);
    return it == variables_.end() ? nullptr : it->second.c_str();
}

size_t StringIo::readBody(char* buffer, size_t size) {
    const size_t n = std::min(size, body_.size() - read_);
    std::memcpy(buffer, body_.data() + read_, n);
    read_ += n;
    return n;
}

void DriverFixture::SetUp() {
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    previousDir_ = cwd;
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
}

void DriverFixture::TearDown() { ASSERT_EQ(chdir(previousDir_.c_str()), 0); }

CorvaneTest::ProcessResult DriverFixture::serve(const std::vector<std::string>& args,
                                              const std::map<std::string, std::string>& env,
                                              const std::string& input) const {
    return serveOn(driver_, args, env, input);
}

CorvaneTest::ProcessResult serveOn(GatewayDriver& driver, const std::vector<std::string>& args,
                                   const std::map<std::string, std::string>& env, const std::string& input) {
    std::vector<std::string> words{"corvane-gateway"};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(&word[0]);
    argv.push_back(nullptr);
    StringIo io(env, input);
    driver.serve(static_cast<int>(words.size()), argv.data(), io);
    return {io.outText(), io.errText(), 0};
}
