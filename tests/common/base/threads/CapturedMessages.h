// Test helper: routes posted messages into memory for the life of the
// object (optionally at debug level), then puts the default router and the
// previous level back. Thread-safe: threads under test post into it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "base/loggerBase/CoMsg.h"

namespace CorvaneTest {

class CapturedMessages : public Corvane::CoMsg::Router {
public:
    struct Message {
        std::string text;
        Corvane::CoMsg::Level level;
        uint32_t pid;
    };

    explicit CapturedMessages(int level = Corvane::CoMsg::getLevel()) : savedLevel_(Corvane::CoMsg::getLevel()) {
        Corvane::CoMsg::setLevel(level);
        Corvane::CoMsg::setRouter(this);
    }
    ~CapturedMessages() override {
        Corvane::CoMsg::setRouter(nullptr);
        Corvane::CoMsg::setLevel(savedLevel_);
    }
    CapturedMessages(const CapturedMessages&) = delete;
    CapturedMessages& operator=(const CapturedMessages&) = delete;

    void route(const Corvane::CoMsg::Record& record) override {
        std::lock_guard<std::mutex> guard(mutex_);
        messages_.push_back(Message{record.text, record.level, record.pid});
    }

    // Messages whose text contains part.
    std::vector<Message> find(const std::string& part) const {
        std::lock_guard<std::mutex> guard(mutex_);
        std::vector<Message> found;
        std::copy_if(messages_.begin(), messages_.end(), std::back_inserter(found),
                     [&part](const Message& m) { return m.text.find(part) != std::string::npos; });
        return found;
    }
    bool contains(const std::string& part) const { return !find(part).empty(); }

private:
    const int savedLevel_;
    mutable std::mutex mutex_;  // guards messages_
    std::vector<Message> messages_;
};

}  // namespace CorvaneTest
