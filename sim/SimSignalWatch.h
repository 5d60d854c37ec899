// Internal to corvane_sim.
// Turns SIGTERM and SIGINT into a clean stop of a SimServer: the signals are
// blocked and read from a signal descriptor on the server's own dispatch
// loop, so a stop never interrupts a method halfway. Owns the descriptor.
// Make it before any other thread starts, so that every thread inherits
// the blocked signals.
#pragma once

#include <memory>
#include <string>

#include "base/tcp/CoIoDescriptor.h"
#include "base/tcp/CoIoHandler.h"

namespace CorvaneSim {

class SimServer;

class SimSignalWatch : public Corvane::CoIoHandler {
public:
    // Null with *error set when the signals can not be watched.
    static std::unique_ptr<SimSignalWatch> create(SimServer& server, std::string* error);
    ~SimSignalWatch() override;

    const Corvane::CoIoDescriptor* getDescriptor() const override { return &fd_; }
    Corvane::CoIoDescriptor* getDescriptor() override { return &fd_; }
    bool handleReadable() override;

private:
    SimSignalWatch(SimServer& server, int fd);

    SimServer& server_;
    Corvane::CoIoDescriptor fd_;
};

}  // namespace CorvaneSim
