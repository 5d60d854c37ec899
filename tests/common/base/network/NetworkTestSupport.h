// Helper shared by the network tests: a network configuration file that
// lives as long as the test.
#pragma once

#include <string>

#include "base/network/CoNetworkConfig.h"
#include "support/TempDir.h"

namespace CorvaneTest {

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
    ScopedNetworkConfig() : path_(dir_.file("absent.cfg")) { Corvane::CoNetworkConfig::setFileNameForTesting(path_); }

    TempDir dir_;
    std::string path_;
};

}  // namespace CorvaneTest
