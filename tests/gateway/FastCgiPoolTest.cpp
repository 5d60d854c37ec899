// The pool's turn to take connections, with real FastCGI requests on a
// socket file: fast requests stay on one thread, a slow one hands the next
// connection to another, and a stop ends the threads that wait their turn.
#include "FastCgiPool.h"

#include <fcgiapp.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "support/Eventually.h"
#include "support/FastCgiClient.h"
#include "support/Gate.h"
#include "support/LoopbackListener.h"
#include "support/TempDir.h"

namespace {

using CorvaneTest::FastCgiClient;

// Serves pool's requests on count threads until it stops: each is
// answered "ok" once before(request) returns; each thread calls ended()
// last.
void serve(FastCgiPool& pool, int count, const std::function<void(FCGX_Request&)>& before,
           const std::function<void()>& ended = nullptr) {
    pool.run(count, [&] {
        FCGX_Request request;
        FCGX_InitRequest(&request, -1, 0);
        FastCgiPool::Place place;
        while (pool.accept(request, place)) {
            before(request);
            FCGX_PutS("Content-Type: text/plain\r\n\r\nok", request.out);
            FCGX_Finish_r(&request);
        }
        FCGX_Free(&request, 1);
        if (ended)
            ended();
    });
}

TEST(FastCgiPoolTest, FastRequestsStayOnOneThreadAndASlowOneHandsTheTurnOn) {
    CorvaneTest::TempDir dir;
    const std::string socket = dir.file("socket");
    ASSERT_EQ(FCGX_Init(), 0);
    const int listener = FCGX_OpenSocket(socket.c_str(), 16);
    ASSERT_GE(listener, 0);

    std::mutex mutex;  // guards servedBy and slowServing
    std::set<std::thread::id> servedBy;
    bool slowServing = false;
    CorvaneTest::Gate release;
    // Long enough that no fast request of a loaded machine or a sanitizer
    // build takes it.
    FastCgiPool::Options options;
    options.slowAfter = std::chrono::milliseconds(500);
    FastCgiPool pool(listener, options);
    std::thread serving([&] {
        serve(pool, 4, [&](FCGX_Request& request) {
            const bool slow = std::strcmp(FCGX_GetParam("QUERY_STRING", request.envp), "slow") == 0;
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (slow)
                    slowServing = true;
                else
                    servedBy.insert(std::this_thread::get_id());
            }
            if (slow)
                release.wait();
        });
    });
    const auto fast = [&socket] { return FastCgiClient::request(socket, {{"QUERY_STRING", "fast"}}); };
    const auto servers = [&] {
        std::lock_guard<std::mutex> lock(mutex);
        return servedBy.size();
    };

    for (int i = 0; i < 20; ++i)
        ASSERT_NE(fast().find("ok"), std::string::npos);
    EXPECT_EQ(servers(), 1u) << "fast requests in a row went to several threads";

    {
        FastCgiClient slow(socket);
        ASSERT_TRUE(slow.begin({{"QUERY_STRING", "slow"}}, true) && slow.sendBody(""));
        ASSERT_TRUE(CorvaneTest::eventually([&] {
            std::lock_guard<std::mutex> lock(mutex);
            return slowServing;
        }));
        EXPECT_NE(fast().find("ok"), std::string::npos) << "no other thread took the turn";
        EXPECT_EQ(servers(), 2u);
        release.open();
        std::string answer;
        EXPECT_TRUE(slow.readAnswer(&answer));
        // Its thread hands the connection back to the runner, asleep in its wait.
        EXPECT_TRUE(slow.begin({{"QUERY_STRING", "fast"}}) && slow.sendBody("") && slow.readAnswer(&answer, 5000));
    }

    // A stop reaches the thread in accept and those waiting their turn.
    ASSERT_EQ(pthread_kill(serving.native_handle(), SIGUSR1), 0);
    serving.join();
    ::close(listener);
}

TEST(FastCgiPoolTest, AListenerThatFailsStopsTheProcess) {
    // No listener, or one shut down: accept fails, and run() returns with
    // no stop signal.
    CorvaneTest::TempDir dir;
    ASSERT_EQ(FCGX_Init(), 0);
    const CorvaneTest::ScopedFd shut(FCGX_OpenSocket(dir.file("socket").c_str(), 16));
    ASSERT_EQ(::shutdown(shut.get(), SHUT_RDWR), 0);
    const int fds = CorvaneTest::countOpenFds();
    for (const int listener : {-1, shut.get()}) {
        FastCgiPool pool(listener, FastCgiPool::Options());
        CorvaneTest::Gate returned;
        std::thread serving([&] {
            serve(pool, 2, [](FCGX_Request&) {});
            returned.open();
        });
        const bool stopped = returned.wait();
        if (!stopped)
            pthread_kill(serving.native_handle(), SIGUSR1);  // ends the hang
        serving.join();
        EXPECT_TRUE(stopped) << "listener " << listener;
    }
    EXPECT_EQ(CorvaneTest::countOpenFds(), fds);
}

TEST(FastCgiPoolTest, KeptConnectionWhoseRequestOutlivesAFailedListenerIsClosed) {
    CorvaneTest::TempDir dir;
    const std::string socket = dir.file("socket");
    ASSERT_EQ(FCGX_Init(), 0);
    const CorvaneTest::ScopedFd listener(FCGX_OpenSocket(socket.c_str(), 16));
    const int fds = CorvaneTest::countOpenFds();
    CorvaneTest::Gate serving, runnerEnded, release;
    {
        FastCgiPool pool(listener.get(), FastCgiPool::Options());
        std::thread threads([&] {
            serve(
                pool, 2,
                [&](FCGX_Request&) {
                    serving.open();
                    release.wait();
                },
                [&] { runnerEnded.open(); });  // the first to end is the runner
        });
        FastCgiClient kept(socket);
        ASSERT_TRUE(kept.begin({}, true) && kept.sendBody("") && serving.wait());
        // Taken, its request still on its way when the listener fails.
        const int before = CorvaneTest::countOpenFds();
        FastCgiClient stalled(socket);
        ASSERT_TRUE(stalled.sendRaw("\x01"));
        ASSERT_TRUE(CorvaneTest::eventually([before] { return CorvaneTest::countOpenFds() == before + 2; }));
        ASSERT_EQ(::shutdown(listener.get(), SHUT_RDWR), 0);
        EXPECT_TRUE(runnerEnded.wait());
        release.open();
        std::string answer;
        EXPECT_TRUE(kept.readAnswer(&answer, 5000));
        EXPECT_TRUE(kept.closedWithin(5000)) << "no runner is left to take it back";
        threads.join();
    }
    EXPECT_EQ(CorvaneTest::countOpenFds(), fds);
}

}  // namespace
