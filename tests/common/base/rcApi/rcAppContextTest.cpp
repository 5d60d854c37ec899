#include "base/rcApi/rcAppContext.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <memory>
#include <string>
#include <vector>

#include "base/tcp/CoIoDescriptor.h"

using namespace Corvane;

namespace {

// A handler over one end of a socket pair that records its calls.
class PairHandler : public CoIoHandler {
public:
    PairHandler(std::vector<std::string>* log, const char* name, bool keep = true)
        : log_(log), name_(name), keep_(keep) {
        int fds[2] = {-1, -1};
        EXPECT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds));
        mine_ = std::make_unique<CoIoDescriptor>(fds[0]);
        peer_ = std::make_unique<CoIoDescriptor>(fds[1]);
    }
    const CoIoDescriptor* getDescriptor() const override { return mine_.get(); }
    CoIoDescriptor* getDescriptor() override { return mine_.get(); }
    bool handleReadable() override {
        char buf[16];
        (void)mine_->rawRead(buf, sizeof buf);
        log_->push_back(std::string("read ") + name_);
        return keep_;
    }
    bool descriptorLost() override {
        log_->push_back(std::string("lost ") + name_);
        return true;
    }
    void poke() { ASSERT_EQ(1, peer_->rawWrite("x", 1)); }
    void lose() { mine_->close(); }

private:
    std::vector<std::string>* log_;
    const char* name_;
    bool keep_;
    std::unique_ptr<CoIoDescriptor> mine_, peer_;
};

// Ready handlers run last registered first; one that answers false or
// has lost its descriptor is dropped. (The RPC tests stop their server
// threads with cancel(): a cancel that did not wake the wait hangs them.)
TEST(rcAppContextTest, CallsReadyHandlersLastRegisteredFirst) {
    std::vector<std::string> log;
    PairHandler a(&log, "a"), b(&log, "b", false), c(&log, "c"), d(&log, "d");
    rcAppContext ctx;
    for (PairHandler* h : {&a, &b, &c, &d, &a})  // no second entry for a
        ctx.registerIOHandler(h);
    EXPECT_EQ(4u, ctx.handlerCount());
    a.poke();
    b.poke();
    EXPECT_EQ(2, ctx.callIOHandler(5000));
    EXPECT_EQ((std::vector<std::string>{"read b", "read a"}), log);
    EXPECT_FALSE(ctx.isRegistered(&b));
    d.lose();
    EXPECT_EQ(0, ctx.callIOHandler(0));  // nothing ready
    EXPECT_EQ("lost d", log.back());
    EXPECT_FALSE(ctx.isRegistered(&d));
    EXPECT_TRUE(ctx.isRegistered(&c));
}

}  // namespace
