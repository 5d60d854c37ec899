// Every message the test process posts, kept in memory so that tests can
// check the texts the code posts. The log becomes the router on first use
// and is never removed or freed: threads under test may post at any time,
// and a router taken away under them would be used after it is gone. A test
// sets the level it needs and starts from an empty log with a Scope.
// Thread-safe; a forked child gets a usable log.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "base/loggerBase/CoMsg.h"

namespace CorvaneTest {

class MessageLog : public Corvane::CoMsg::Router {
public:
    struct Line {
        Corvane::CoMsg::Level level;
        std::string text;
        uint32_t pid;
    };

    // For one test: empties the log, makes it the router again (a test of
    // the router mechanism may have replaced it) and sets the level; puts
    // the previous level back at the end.
    class Scope {
    public:
        explicit Scope(int level = Corvane::CoMsg::debugging);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

        MessageLog* operator->() const { return &instance(); }

    private:
        const int savedLevel_;
    };

    static MessageLog& instance();

    void route(const Corvane::CoMsg::Record& record) override;

    void clear();
    std::vector<Line> lines() const;
    // The texts posted at exactly level (at any level when level is -1), in order.
    std::vector<std::string> texts(int level = -1) const;
    // Number of lines whose text equals text (at any level when level is -1).
    int count(const std::string& text, int level = -1) const;
    bool contains(const std::string& text, int level = -1) const { return count(text, level) > 0; }
    // Lines whose text contains part.
    std::vector<Line> find(const std::string& part) const;
    // Texts that begin with prefix.
    std::vector<std::string> startingWith(const std::string& prefix) const;

private:
    MessageLog() = default;
    static void lockForFork();
    static void unlockAfterFork();

    mutable std::mutex mutex_;  // guards lines_
    std::vector<Line> lines_;
};

}  // namespace CorvaneTest
