// Test helper: changes a registered setting at run time, as an operator
// would, and puts the previous value back when it goes out of scope.
#pragma once

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/env/EnvVarRegistry.h"

namespace CorvaneTest {

template <typename T>
class ScopedSetting {
public:
    ScopedSetting(const char* name, T value) {
        Corvane::EnvVarRegistryImp& registry = Corvane::EnvVarRegistryImp::getInstance();
        const std::vector<int> found = registry.find(name, Corvane::EnvVarRegistry::kFieldName, true);
        EXPECT_FALSE(found.empty()) << "setting '" << name << "' is not registered";
        if (found.empty())
            return;
        var_ = registry.getEnvVar(found.front());
        saved_ = parse(registry.getFieldValueAsStr(found.front(), Corvane::EnvVarRegistry::kFieldValue));
        var_->dynSetValue(value);
    }
    ~ScopedSetting() {
        if (var_)
            var_->dynSetValue(saved_);
    }
    ScopedSetting(const ScopedSetting&) = delete;
    ScopedSetting& operator=(const ScopedSetting&) = delete;

private:
    static T parse(const std::string& text);

    Corvane::BaseRegEnvVar* var_ = nullptr;
    T saved_{};
};

template <>
inline int ScopedSetting<int>::parse(const std::string& text) {
    return std::stoi(text);
}

template <>
inline bool ScopedSetting<bool>::parse(const std::string& text) {
    return text == "true";
}

}  // namespace CorvaneTest
