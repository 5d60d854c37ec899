#include "base/rcApi/rcParam.h"

#include <cstdio>
#include <cstdlib>

#include "base/rcApi/rcTextScan.h"

namespace Corvane {

// Constant-initialised, so that declaration lists in other files may
// point at them from before main.
const rcParamType<rcParamVoid> rcParamVoid::TYPE("void");
const rcParamType<rcParamBool> rcParamBool::TYPE("bool");
const rcParamType<rcParamInt> rcParamInt::TYPE("int");
const rcParamType<rcParamLong> rcParamLong::TYPE("long");
const rcParamType<rcParamFloat> rcParamFloat::TYPE("float");
const rcParamType<rcParamString> rcParamString::TYPE("const char *");

void rcParamBool::fromString(const char* text) { value_ = rcText::wordToBool(text); }

void rcParamInt::fromString(const char* text) { value_ = text ? static_cast<int>(std::strtol(text, nullptr, 10)) : 0; }

std::string rcParamInt::toString() const {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d", value_);
    return buf;
}

void rcParamLong::fromString(const char* text) { value_ = text ? std::strtol(text, nullptr, 10) : 0; }

std::string rcParamLong::toString() const {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%ld", value_);
    return buf;
}

void rcParamFloat::fromString(const char* text) {
    value_ = text ? static_cast<float>(std::strtod(text, nullptr)) : 0.0f;
}

std::string rcParamFloat::toString() const {
    // A float can print as up to 39 digits before the point.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%f", static_cast<double>(value_));
    return buf;
}

}  // namespace Corvane
