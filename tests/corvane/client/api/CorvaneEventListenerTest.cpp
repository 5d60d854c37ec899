#include "client/api/CorvaneEventListener.h"

#include <sys/resource.h>

#include <gtest/gtest.h>

#include "base/rcApi/rcServerContext.h"
#include "support/LoopbackListener.h"
#include "support/MessageLog.h"
#include "support/Process.h"

namespace {

// A client waiting while no descriptor is free is posted, and the listener
// stays: the next pass may find one. The limit is lowered in a child, where
// no other thread meets it.
#ifndef CORVANE_SANITIZER  // its runtime needs free descriptors
TEST(CorvaneEventListenerTest, OutOfDescriptorsKeepsListening) {
    CorvaneTest::MessageLog::Scope log;
    Corvane::rcServerContext server(-1);
    int port = -1;
    const auto listeners = CorvaneEventListener::openAll(server, {"127.0.0.1"}, &port);
    ASSERT_EQ(listeners.size(), 1u);
    const CorvaneTest::ScopedFd waiting = CorvaneTest::connectLoopback(port);
    ASSERT_TRUE(waiting.valid());
    const int status = CorvaneTest::runInChild([&] {
        rlimit none{};
        ::getrlimit(RLIMIT_NOFILE, &none);
        none.rlim_cur = 0;
        if (::setrlimit(RLIMIT_NOFILE, &none) != 0)
            return 2;
        const bool kept = listeners[0]->handleReadable();
        return kept && log->find("Can't accept client connection on '127.0.0.1'").size() == 1 ? 0 : 1;
    });
    EXPECT_EQ(0, status);
}
#endif

}  // namespace
