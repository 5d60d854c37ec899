// Frame data between the client and real corvane-sim processes, and against
// a stand-in frame server that cuts its connection.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "base/env/EnvVar.h"
#include "base/loggerBase/CoException.h"
#include "client/api/CorvaneDaemonInfo.h"
#include "client/api/CorvaneDaemonInfoMgr.h"
#include "client/api/CorvaneFrameClientAPI.h"
#include "client/api/CorvaneInit.h"
#include "client/api/CorvaneNodeHandle.h"
#include "client/api/CorvaneRawDataClientConnection.h"
#include "client/api/CorvaneServerHandle.h"
#include "support/LoopbackListener.h"
#include "support/MessageLog.h"
#include "support/SimProcess.h"
#include "support/TempDir.h"
#include "support/Thrown.h"

namespace {

using CorvaneTest::SimProcess;

std::string pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(i * 7 + i / 251);
    return bytes;
}

// A server known by a fixed record.
struct FixedServer : CorvaneDaemonInfoMgr {
    CorvaneDaemonInfo info;
    void invalidate() override {}
    bool getDaemonInfo(CorvaneDaemonInfo& out) override {
        out = info;
        return true;
    }
    const char* lastError() const override { return ""; }
};

// Bytes in memory, read as a connection would be.
struct Bytes : CorvaneByteSource {
    std::string data;
    size_t at = 0;
    void readExactly(void* buffer, size_t size) override {
        if (at + size > data.size())
            throw Corvane::CoException("Connection closed", __LINE__, __FILE__);
        std::memcpy(buffer, data.data() + at, size);
        at += size;
    }
};

class CorvaneFrameClientAPITest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(corvaneInit()); }
    void TearDown() override { corvaneUninit(); }

    CorvaneTest::TempDir files_;  // the sim's
    CorvaneTest::TempDir local_;  // the client's
};

TEST_F(CorvaneFrameClientAPITest, FramesRoundTripWithAndWithoutAcknowledgement) {
    SimProcess sim(SimProcess::demoTree(), {"--no-discovery"});
    CorvaneServerHandle server(sim.host().c_str());
    CorvaneNodeHandle clip(server, "/media/clip");
    const std::string data = pattern(8192);
    Corvane::EnvVar<bool> trace("XQ_CORVANE_TRACE", false);
    trace.setValue(true);
    CorvaneTest::MessageLog::Scope log;
    ASSERT_TRUE(clip.writeFrame("/media/clip#0", data.data(), data.size())) << clip.lastError();
    trace.setValue(false);
    EXPECT_EQ(log->startingWith("Calling writeFrame"),
              std::vector<std::string>{"Calling writeFrame(/media/clip#0, 8192)"});
    EXPECT_EQ(sim.calls("FrameConnection"), std::vector<std::string>{"FrameConnection tcp"});

    const struct {
        const char* frame;
        size_t size;
        bool noAck;
        const char* method;  // what goes on the wire
        const char* error;
    } cases[] = {
        {"/media/clip#0", 8192, true, "ReadFrameNoAck", nullptr},
        {"/media/clip#0", 4095, true, "ReadFrame", nullptr},  // no room for an error text: acknowledged
        {"/none", 4096, true, "ReadFrameNoAck", "Frame '/none' does not exist"},
        {"/media/clip#0", 12000, false, "ReadFrame", nullptr},  // padded with zeros
    };
    for (const auto& c : cases) {
        sim.clearCalls();
        CorvaneFrameReadOptions options;
        options.noAck = c.noAck;
        std::string buffer(c.size, '?');
        const bool ok = clip.readFrame(c.frame, &buffer[0], buffer.size(), options);
        const std::string label = std::string(c.frame) + " " + std::to_string(c.size);
        EXPECT_EQ(sim.calls(c.method).size(), 1u) << label;
        EXPECT_EQ(ok, !c.error) << label << ": " << clip.lastError();
        if (c.error)
            EXPECT_STREQ(clip.lastError(), c.error) << label;
        else
            EXPECT_EQ(buffer, (data + std::string(c.size, '\0')).substr(0, c.size)) << label;
    }
    // A read-ahead's parameter block goes once, before the read.
    CorvaneFrameReadOptions ahead;
    ahead.readAhead[1] = "/media/clip#0";
    ahead.params = "pq";
    ahead.paramsBytes = 2;
    std::string frame(data.size(), '\0');
    ASSERT_TRUE(clip.readFrame("/media/clip#0", &frame[0], frame.size(), ahead)) << clip.lastError();
    EXPECT_EQ(frame, data);

    // A stream read too big for its buffer.
    CorvaneStr streamId;
    ASSERT_TRUE(clip.getStreamId(streamId) && clip.writeFrame(streamId.c_str(), data.data(), 1000));
    int count = 20;
    std::string buffer(100, '\0');
    EXPECT_FALSE(clip.readStream(&buffer[0], buffer.size(), 0, 10, count));
    EXPECT_STREQ(clip.lastError(), "Buffer too small.");

    // The channel carries a buffer size of int and a parameter size of
    // unsigned int: a larger one is refused before anything is sent.
    sim.clearCalls();
    const size_t maxInt = static_cast<size_t>(std::numeric_limits<int>::max());
    const uint64_t maxUnsigned = std::numeric_limits<unsigned int>::max();
    struct Case {
        size_t size;
        uint64_t paramsBytes;
        std::string error;
    };
    std::vector<Case> tooLarge = {
        {maxInt + 1, 0, "Frame buffer of 2147483648 bytes is too large: at most 2147483647"},
        {static_cast<size_t>(-1), 0,
         "Frame buffer of " + std::to_string(static_cast<size_t>(-1)) + " bytes is too large: at most 2147483647"},
    };
    if (sizeof(size_t) > sizeof(unsigned int))
        tooLarge.push_back(
            {16, maxUnsigned + 1, "Frame parameter block of 4294967296 bytes is too large: at most 4294967295"});
    for (const Case& c : tooLarge) {
        CorvaneFrameReadOptions options;
        options.params = "pq";
        options.paramsBytes = static_cast<size_t>(c.paramsBytes);
        EXPECT_FALSE(clip.readFrame("/media/clip#0", &buffer[0], c.size, options)) << c.error;
        EXPECT_EQ(clip.lastError(), c.error);
    }
    EXPECT_EQ(sim.calls(), std::vector<std::string>()) << "a refused read reached the server";
    // The largest buffer goes out, for the server to turn down.
    EXPECT_FALSE(clip.readFrame("/none", &buffer[0], maxInt));
    EXPECT_STREQ(clip.lastError(), "Frame buffer of 2147483647 bytes is larger than the server sends");
}

// Too old a server has no frame channel; a new one on this host is reached
// through its socket file.
TEST_F(CorvaneFrameClientAPITest, FrameChannelNeedsANewEnoughServer) {
    const std::string database = "LOCAL" + std::to_string(::getpid());
    for (const char* version : {"2012.0.0.5119", "2012.0.0.5120"}) {
        SimProcess sim(SimProcess::demoTree(),
                       {"--no-discovery", "--version", version, "--database", database, "--local-socket", "auto"});
        CorvaneServerHandle server(sim.host().c_str());
        CorvaneNodeHandle clip(server, "/media/clip");
        const bool ok = clip.writeFrame("f", "x", 1);
        EXPECT_EQ(ok, std::string(version) == "2012.0.0.5120") << version;
        EXPECT_STREQ(clip.lastError(), ok ? "" : "Functionality not supported on remote Corvane server.");
        EXPECT_EQ(sim.calls("FrameConnection"), std::vector<std::string>(ok, "FrameConnection local"));
    }
}

TEST_F(CorvaneFrameClientAPITest, FilesRoundTripAndStayInTheirDirectory) {
    SimProcess sim(SimProcess::demoTree(), {"--no-discovery", "--file-dir", files_.path()});
    CorvaneServerHandle server(sim.host().c_str());
    for (size_t size : {size_t(0), size_t(256 * 1024 + 1)}) {
        const std::string remote = "/f" + std::to_string(size);
        const std::string data = pattern(size);
        const std::string in = local_.write("in", data);
        ASSERT_TRUE(server.pushFile(remote.c_str(), in.c_str())) << server.lastError();
        EXPECT_EQ(CorvaneTest::readFile(files_.file(remote.substr(1))), data) << size;
        const std::string out = local_.file("out");
        ASSERT_TRUE(server.pullFile(remote.c_str(), out.c_str())) << server.lastError();
        EXPECT_EQ(CorvaneTest::readFile(out), data) << size;
    }
    const std::string nowhere = local_.file("none/out");
    EXPECT_FALSE(server.pullFile("/f0", nowhere.c_str()));
    EXPECT_EQ(server.lastError(), "Could not create '" + nowhere + "': No such file or directory");

    const std::string kept = local_.write("kept", "old");
    local_.write("secret", "s");
    ASSERT_EQ(::symlink(local_.path().c_str(), files_.file("out").c_str()), 0);
    for (const char* bad : {"../escape", "a/../../escape", "out/secret", "/"})
        EXPECT_FALSE(server.pullFile(bad, kept.c_str()) || server.pushFile(bad, kept.c_str())) << bad;
    EXPECT_FALSE(server.pullFile("missing", kept.c_str()));
    // A local file that can not grow fails the pull with the system's reason.
    rlimit saved{};
    ASSERT_EQ(0, ::getrlimit(RLIMIT_FSIZE, &saved));
    rlimit none = saved;
    none.rlim_cur = 0;
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);  // the error, not the signal
    ASSERT_EQ(0, ::setrlimit(RLIMIT_FSIZE, &none));
    const bool pulled = server.pullFile("/f262145", kept.c_str());
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(pulled);
    EXPECT_EQ(server.lastError(), "Could not write '" + kept + "': " + std::strerror(EFBIG));
    // A failed pull leaves the local file whole.
    EXPECT_EQ(CorvaneTest::readFile(kept) + CorvaneTest::readFile(local_.file("secret")), "olds");
}

// Frames cut short by the server, with a close (at once or while the client
// waits for the rest) or a reset, and one interrupted while the client
// waits; an interrupt between reads is forgotten. A buffer size no server
// can be sent is refused first.
TEST_F(CorvaneFrameClientAPITest, AFrameCutShortOrInterruptedClosesTheConnection) {
    enum class Cut { Close, CloseLater, Reset, Interrupt };
    const struct {
        Cut cut;
        const char* error;
    } cases[] = {
        {Cut::Close, "Cannot read data on socket: Connection reset by peer"},
        {Cut::CloseLater, "Cannot read data on socket: Connection reset by peer"},
        {Cut::Reset, "Cannot read data on socket: Connection reset by peer"},
        {Cut::Interrupt, "Operation aborted."},
    };
    CorvaneTest::LoopbackListener listener;
    FixedServer server;
    server.info.setFrameIP(0, "127.0.0.1");
    server.info.setFramePort(listener.port());
    server.info.setDatabase("CUT");
    CorvaneRawDataClientConnection connection(server);
    const size_t requestBytes = sizeof "ReadFrame\0f\0001000";
    std::thread frameServer([&] {
        for (const auto& c : cases) {
            CorvaneTest::ScopedFd client = listener.accept();
            CorvaneTest::recvUpTo(client.get(), requestBytes, 5000);
            CorvaneTest::sendAll(client.get(), std::string("\0", 1) + std::string(100, 'f'));
            if (c.cut == Cut::Reset) {
                const linger abort = {1, 0};
                ::setsockopt(client.get(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
            } else if (c.cut != Cut::Close) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));  // most often mid-wait
                if (c.cut == Cut::Interrupt) {
                    connection.interrupt();
                    CorvaneTest::recvUpTo(client.get(), 1, 5000);  // until the client closes
                }
            }
        }
        CorvaneTest::ScopedFd client = listener.accept();
        for (char fill : {'f', 'g'})
            if (CorvaneTest::recvUpTo(client.get(), requestBytes, 5000).size() == requestBytes)
                CorvaneTest::sendAll(client.get(), std::string("\0", 1) + std::string(1000, fill));
        EXPECT_EQ(CorvaneTest::recvUpTo(client.get(), 1, 5000), "") << "a refused read was sent";
    });
    CorvaneFrameClientAPI frames(connection, server.info);
    std::string buffer(1000, '\0');
    for (const auto& c : cases) {
        EXPECT_EQ(c.error, CorvaneTest::thrownText([&] {
                      frames.readFrame("f", &buffer[0], static_cast<int>(buffer.size()), nullptr, 0, nullptr, nullptr,
                                       false);
                  }));
        EXPECT_FALSE(connection.isConnected());  // the next read starts on a new connection
    }
    for (int i = 0; i < 2; ++i) {
        EXPECT_NO_THROW(
            frames.readFrame("f", &buffer[0], static_cast<int>(buffer.size()), nullptr, 0, nullptr, nullptr, false));
        connection.interrupt();
    }
    EXPECT_EQ(buffer, std::string(1000, 'g'));
    EXPECT_THROW(frames.readFrame("f", &buffer[0], -1, nullptr, 0, "ahead", nullptr, false), Corvane::CoException);
    connection.close();
    frameServer.join();
}

TEST_F(CorvaneFrameClientAPITest, RedirectionsFollowTheServerVersion) {
    const std::pair<int, bool> versions[] = {{20090909, false}, {20100100, false}, {20100101, true},
                                             {20100102, false}, {20100200, true},  {20110000, true}};
    for (const auto& v : versions) {
        CorvaneDaemonInfo info;
        info.setVersionMajor(v.first / 10000);
        info.setVersionMinor(v.first / 100 % 100);
        info.setVersionMaint(v.first % 100);
        EXPECT_EQ(CorvaneFrameClientAPI::redirectionsSupported(info), v.second) << v.first;
    }
}

// Frames the server does not hold are read from the one its read-ahead
// names, each frame remembered on its own.
TEST_F(CorvaneFrameClientAPITest, RedirectedFramesAreReadFromTheirHolder) {
    SimProcess holder(SimProcess::demoTree(), {"--no-discovery"});
    SimProcess front(SimProcess::demoTree(), {"--no-discovery", "--redirect-to", holder.host()});
    CorvaneServerHandle heldServer(holder.host().c_str());
    CorvaneNodeHandle held(heldServer, "/media/clip");
    CorvaneServerHandle server(front.host().c_str());
    CorvaneNodeHandle clip(server, "/media/clip");
    CorvaneFrameReadOptions ahead;
    ahead.readAhead[0] = "/a";
    ahead.readAhead[1] = "/b";
    char buffer[2] = {};
    ASSERT_TRUE(held.writeFrame("/a", "/a", 2) && held.writeFrame("/b", "/b", 2)) << held.lastError();
    ASSERT_TRUE(clip.readFrame("/a", buffer, 2, ahead) && clip.readFrame("/b", buffer, 2)) << clip.lastError();
    EXPECT_EQ(std::string(buffer, 2), "/b");
    EXPECT_EQ(holder.calls("ReadFrame"), (std::vector<std::string>{"ReadFrame /a 2", "ReadFrame /b 2"}));
    EXPECT_EQ(front.calls("ReadAheadRedirect").size(), 2u);
}

// A frame link that can not be made says why: the last data address's
// failure, or that there is none.
TEST_F(CorvaneFrameClientAPITest, FrameLinkThatCanNotBeMadeSaysWhy) {
    int port = -1;
    const CorvaneTest::ScopedFd closed = CorvaneTest::bindWithoutListening(&port);
    FixedServer server;
    server.info.setFramePort(port);
    for (const char* address : {"127.0.0.1", ""}) {
        server.info.setFrameIP(0, address);
        CorvaneRawDataClientConnection link(server);
        char byte = 0;
        EXPECT_EQ(CorvaneTest::thrownText([&] { link.readExactly(&byte, 1); }),
                  *address ? std::strerror(ECONNREFUSED) : "No data interface found")
            << address;
    }
}

TEST_F(CorvaneFrameClientAPITest, ReadsOnlyWellFormedTokens) {
    const int64_t no = -999;  // refused
    const std::pair<std::string, int64_t> cases[] = {
        {std::string("12\0", 3), 12},      {std::string("-3\0", 3), -3},
        {std::string("\0", 1), no},        {std::string("1x\0", 3), no},
        {std::string("+1\0", 3), no},      {std::string(19, '9') + '\0', no},
        {std::string(64, '1') + '\0', no}, {"12", no},  // cut before its NUL
    };
    for (const auto& c : cases) {
        Bytes source;
        source.data = c.first;
        int64_t value = no;
        try {
            value = readFrameInteger(source);
        } catch (const Corvane::CoException&) {
        }
        EXPECT_EQ(value, c.second) << c.first;
    }
    Bytes status;
    status.data = std::string(1024, 'e') + '\0';
    EXPECT_THROW(checkFrameStatus(status), Corvane::CoException);
    EXPECT_LE(status.at, 1024u);  // stopped at the bound, not at the NUL
}

}  // namespace
