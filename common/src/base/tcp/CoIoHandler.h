// One descriptor's part in a select-style dispatch loop: which events it
// waits for, and what to do when they come. The dispatcher does not own its
// handlers; each handler owns (or reaches) its descriptor. Handlers run on
// the dispatcher's thread only.
#pragma once

namespace Corvane {

class CoIoDescriptor;

class CoIoHandler {
public:
    // Bits of the event mask.
    static constexpr int kReadEvent = 1;
    static constexpr int kWriteEvent = 2;
    static constexpr int kExceptionEvent = 4;

    explicit CoIoHandler(int eventMask = kReadEvent) : eventMask_(eventMask) {}
    CoIoHandler(const CoIoHandler&) = delete;
    CoIoHandler& operator=(const CoIoHandler&) = delete;

    // The descriptor to wait on; null or invalid means it is gone, and the
    // dispatcher then calls descriptorLost() and drops the handler.
    virtual const CoIoDescriptor* getDescriptor() const = 0;
    virtual CoIoDescriptor* getDescriptor() = 0;
    // A false result tells the dispatcher to drop the handler.
    virtual bool handleReadable() { return true; }
    virtual bool handleWritable() { return true; }
    virtual bool descriptorLost() { return true; }
    virtual ~CoIoHandler();

    int getEventMask() const { return eventMask_; }
    void setEventMask(int eventMask) { eventMask_ = eventMask; }

private:
    int eventMask_;
};

}  // namespace Corvane
