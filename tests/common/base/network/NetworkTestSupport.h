// Helpers shared by the network tests: a capture of posted messages and a
// network configuration file that lives as long as the test.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "base/loggerBase/CoMsg.h"
#include "base/network/CoNetworkConfig.h"
#include "support/TempDir.h"

namespace CorvaneTest {

// Collects every message posted while it lives (all levels) instead of
// printing it. Destroy it only when no other thread posts any more.
class LogCapture : public Corvane::CoMsg::Router {
public:
    LogCapture() : oldLevel_(Corvane::CoMsg::getLevel()) {
        Corvane::CoMsg::setLevel(Corvane::CoMsg::debugging);
        Corvane::CoMsg::setRouter(this);
    }
    ~LogCapture() override {
        Corvane::CoMsg::setRouter(nullptr);
        Corvane::CoMsg::setLevel(oldLevel_);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    void route(const Corvane::CoMsg::Record& record) override {
        std::lock_guard<std::mutex> guard(mutex_);
        records_.push_back({record.level, record.text});
    }
    // Texts posted at exactly this level, in order.
    std::vector<std::string> texts(Corvane::CoMsg::Level level) {
        std::lock_guard<std::mutex> guard(mutex_);
        std::vector<std::string> out;
        for (const auto& record : records_)
            if (record.level == level)
                out.push_back(record.text);
        return out;
    }
    bool contains(Corvane::CoMsg::Level level, const std::string& text) {
        for (const std::string& posted : texts(level))
            if (posted == text)
                return true;
        return false;
    }
    size_t size() {
        std::lock_guard<std::mutex> guard(mutex_);
        return records_.size();
    }

private:
    struct Entry {
        Corvane::CoMsg::Level level;
        std::string text;
    };
    int oldLevel_;
    std::mutex mutex_;
    std::vector<Entry> records_;
};

// Makes the network configuration read the given text (or, with
// asDirectory, a directory, which can be opened but not read) at its next
// question, and the real file again afterwards.
class ScopedNetworkConfig {
public:
    explicit ScopedNetworkConfig(const std::string& text, bool asDirectory = false)
        : path_(asDirectory ? dir_.path() : dir_.write("network.cfg", text)) {
        Corvane::CoNetworkConfig::setFileNameForTesting(path_);
    }
    // No file at all.
    static ScopedNetworkConfig missing() { return ScopedNetworkConfig(); }
    ~ScopedNetworkConfig() { Corvane::CoNetworkConfig::setFileNameForTesting(Corvane::CoNetworkConfig::CFG_FILE_NAME); }
    ScopedNetworkConfig(ScopedNetworkConfig&&) = delete;

    const std::string& path() const { return path_; }

private:
    ScopedNetworkConfig() : path_(dir_.file("absent.cfg")) {
        Corvane::CoNetworkConfig::setFileNameForTesting(path_);
    }

    TempDir dir_;
    std::string path_;
};

}  // namespace CorvaneTest
