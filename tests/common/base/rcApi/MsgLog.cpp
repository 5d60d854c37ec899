#include "MsgLog.h"

#include <cstdlib>

namespace CorvaneTest {

MsgLog& MsgLog::instance() {
    static MsgLog* const log = new MsgLog;  // never freed: threads may post at exit
    return *log;
}

MsgLog::MsgLog() : verbose_(std::getenv("CORVANE_TEST_VERBOSE") != nullptr) {
    Corvane::CoMsg::setLevel(Corvane::CoMsg::debugging);
    Corvane::CoMsg::setRouter(this);
}

void MsgLog::route(const Corvane::CoMsg::Record& record) {
    if (verbose_)
        Corvane::CoMsg::getDefaultRouter()->route(record);
    std::lock_guard<std::mutex> guard(mutex_);
    if (lines_.size() < 100000)  // a runaway poster must not eat the memory
        lines_.push_back({record.level, record.text});
}

void MsgLog::clear() {
    std::lock_guard<std::mutex> guard(mutex_);
    lines_.clear();
}

std::vector<MsgLog::Line> MsgLog::lines() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return lines_;
}

int MsgLog::count(const std::string& text, int level) const {
    std::lock_guard<std::mutex> guard(mutex_);
    int n = 0;
    for (const Line& line : lines_) {
        if (line.text == text && (level < 0 || line.level == level))
            ++n;
    }
    return n;
}

namespace {
// Before main, so that every test starts captured.
const bool gInstalled = (MsgLog::instance(), true);
}  // namespace

}  // namespace CorvaneTest
