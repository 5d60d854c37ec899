// Captures every posted message of the test process, at every level, so
// that tests can check the texts the code posts. Installed once before main
// and never removed, because server threads may post at any time.
// Set CORVANE_TEST_VERBOSE to also print them. Thread-safe.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "base/loggerBase/CoMsg.h"

namespace CorvaneTest {

class MsgLog : public Corvane::CoMsg::Router {
public:
    struct Line {
        int level;
        std::string text;
    };

    static MsgLog& instance();

    void route(const Corvane::CoMsg::Record& record) override;

    void clear();
    std::vector<Line> lines() const;
    // Number of captured lines whose text equals text (at any level when
    // level is -1).
    int count(const std::string& text, int level = -1) const;
    bool contains(const std::string& text, int level = -1) const { return count(text, level) > 0; }

private:
    MsgLog();

    mutable std::mutex mutex_;  // guards lines_
    std::vector<Line> lines_;
    bool verbose_;
};

}  // namespace CorvaneTest
