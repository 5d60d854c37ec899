// The texts a Corvane::CoException carries out of a call, for tests that
// check what a failure says.
#pragma once

#include <string>

#include "base/loggerBase/CoException.h"

namespace CorvaneTest {

// What body throws: its text, and with withDetail " / " and its detail;
// "<no exception>" when it returns.
template <typename Body>
std::string thrownText(Body body, bool withDetail = false) {
    try {
        body();
    } catch (const Corvane::CoException& e) {
        return withDetail ? std::string(e.what()) + " / " + e.detail() : std::string(e.what());
    }
    return "<no exception>";
}

}  // namespace CorvaneTest
