#include "support/MessageLog.h"

#include <pthread.h>

namespace CorvaneTest {

namespace {
// A runaway poster must not eat the memory.
constexpr size_t kMaxLines = 100000;
}  // namespace

MessageLog& MessageLog::instance() {
    static MessageLog* const log = [] {
        MessageLog* created = new MessageLog;  // never freed: threads may post at exit
        // A child forked while another thread held the lock would wait on it forever.
        pthread_atfork(&MessageLog::lockForFork, &MessageLog::unlockAfterFork, &MessageLog::unlockAfterFork);
        Corvane::CoMsg::setRouter(created);
        return created;
    }();
    return *log;
}

void MessageLog::lockForFork() { instance().mutex_.lock(); }

void MessageLog::unlockAfterFork() { instance().mutex_.unlock(); }

void MessageLog::route(const Corvane::CoMsg::Record& record) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (lines_.size() < kMaxLines)
        lines_.push_back({record.level, record.text, record.pid});
}

void MessageLog::clear() {
    std::lock_guard<std::mutex> guard(mutex_);
    lines_.clear();
}

std::vector<MessageLog::Line> MessageLog::lines() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return lines_;
}

std::vector<std::string> MessageLog::texts(int level) const {
    std::vector<std::string> found;
    for (const Line& line : lines())
        if (level < 0 || line.level == level)
            found.push_back(line.text);
    return found;
}

int MessageLog::count(const std::string& text, int level) const {
    int n = 0;
    for (const std::string& posted : texts(level))
        if (posted == text)
            ++n;
    return n;
}

std::vector<MessageLog::Line> MessageLog::find(const std::string& part) const {
    std::vector<Line> found;
    for (const Line& line : lines())
        if (line.text.find(part) != std::string::npos)
            found.push_back(line);
    return found;
}

std::vector<std::string> MessageLog::startingWith(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const std::string& text : texts())
        if (text.compare(0, prefix.size(), prefix) == 0)
            found.push_back(text);
    return found;
}

MessageLog::Scope::Scope(int level) : savedLevel_(Corvane::CoMsg::getLevel()) {
    MessageLog& log = instance();
    log.clear();
    Corvane::CoMsg::setRouter(&log);
    Corvane::CoMsg::setLevel(level);
}

MessageLog::Scope::~Scope() { Corvane::CoMsg::setLevel(savedLevel_); }

}  // namespace CorvaneTest
