// Descriptors of every kind: the base over a raw loopback peer, TCP clients
// and servers, and the local message queue.
#include "base/tcp/CoIoDescriptor.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/tcp/CoIoMsgQDescriptor.h"
#include "base/tcp/CoIoTcpDescriptor.h"
#include "base/tcp/CoIoTcpServerDescriptor.h"
#include "base/tcp/CoIoTcpServerHandler.h"
#include "support/Eventually.h"
#include "support/LoopbackListener.h"
#include "support/MessageLog.h"
#include "support/TempDir.h"

namespace {

using namespace Corvane;
using namespace CorvaneTest;
using namespace std::chrono_literals;

std::string textOf(int err) { return std::strerror(err); }

// Bytes waiting in a socket's receive (FIONREAD) or send (TIOCOUTQ) queue.
int queued(int fd, unsigned long request = FIONREAD) {
    int n = -1;
    return ::ioctl(fd, request, &n) == 0 ? n : -1;
}

// Runs f while no descriptor is free.
void withNoFreeDescriptor(const std::function<void()>& f) {
    rlimit saved{};
    ASSERT_EQ(0, ::getrlimit(RLIMIT_NOFILE, &saved));
    rlimit none = saved;
    none.rlim_cur = 0;
    ASSERT_EQ(0, ::setrlimit(RLIMIT_NOFILE, &none));
    f();
    ASSERT_EQ(0, ::setrlimit(RLIMIT_NOFILE, &saved));
}

// A descriptor over one end of a loopback TCP connection; the test plays the
// peer on the raw other end.
class CoIoDescriptorTest : public ::testing::Test {
protected:
    void SetUp() override {
        ScopedFd client = CorvaneTest::connectLoopback(listener_.port());
        ASSERT_TRUE(client.valid());
        peer_ = listener_.accept();
        ASSERT_TRUE(peer_.valid());
        io_ = std::make_unique<CoIoDescriptor>(client.release());
    }

    void peerSends(const std::string& bytes) {
        ASSERT_TRUE(CorvaneTest::sendAll(peer_.get(), bytes));
        const int expected = static_cast<int>(bytes.size());
        ASSERT_TRUE(eventually([&] { return queued(io_->getFd()) >= expected; }));
    }

    // Waits for a call run on another thread; a hang fails the test and the
    // peer's close then frees the thread.
    template <typename T>
    T finish(std::future<T>& result) {
        if (result.wait_for(5s) != std::future_status::ready) {
            ADD_FAILURE() << "the call did not end";
            peer_.reset();
        }
        return result.get();
    }

    LoopbackListener listener_;
    ScopedFd peer_;
    std::unique_ptr<CoIoDescriptor> io_;
};

TEST_F(CoIoDescriptorTest, CancelEndsABlockedCall) {
    io_->setSendBufferSize(4096);
    const std::string big(16 << 20, 'x');
    char buf[16];
    const auto readAll = [&] { return io_->readAll(buf, sizeof buf); };
    const auto allRead = [&] { return queued(io_->getFd()) == 0; };
    const struct {
        const char* call;
        const char* peerSends;  // readAll takes it, then waits for more
        std::function<int()> run;
        std::function<bool()> waiting;
        int result;
        std::string error;
    } cases[] = {
        {"readSome", "", [&] { return io_->readSome(buf, sizeof buf, 60000); }, [] { return true; }, 0, ""},
        {"readAll", "abcde", readAll, allRead, -1, textOf(ECONNABORTED)},
        {"writeAll", "", [&] { return io_->writeAll(big.data(), static_cast<int>(big.size())); },
         [&] { return queued(io_->getFd(), TIOCOUTQ) > 0; }, -1, textOf(ECONNABORTED)},
#ifndef CORVANE_SANITIZER  // its runtime needs free descriptors
        // With no descriptor free for the cancel pipe, the flag alone must
        // still end it at its next poll slice.
        {"readAll without a cancel pipe", "ab", readAll, allRead, -1, textOf(ECONNABORTED)},
#endif
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.call);
        if (std::string(c.call).find("without") != std::string::npos) {
            const int fd = ::dup(io_->getFd());  // io_ again, with no descriptor free for a cancel pipe
            withNoFreeDescriptor([&] { io_ = std::make_unique<CoIoDescriptor>(fd); });
        }
        if (*c.peerSends)
            peerSends(c.peerSends);
        auto result = std::async(std::launch::async, c.run);
        ASSERT_TRUE(eventually(c.waiting));
        io_->cancel();
        EXPECT_EQ(c.result, finish(result));
        EXPECT_EQ(c.error, io_->lastError());
        EXPECT_TRUE(io_->cancelled());
    }
}

// A cancel that comes before the wait starts must not be lost, and a burst
// larger than the pipe must neither block the canceller nor linger, and one
// made while no call waits must not abort the next readAll or writeAll when
// its data is ready.
TEST_F(CoIoDescriptorTest, EarlyCancelsEndTheNextWaitOnceAndNoLaterReadAllOrWriteAll) {
    CorvaneTest::MessageLog::Scope log;
    errno = 0;  // stale, it must not pass for a failed write
    for (int i = 0; i < 70000; ++i)
        io_->cancel();
    EXPECT_EQ(std::vector<std::string>{}, log->texts(Corvane::CoMsg::error)) << "a full pipe is no failure";
    char buf[16];
    EXPECT_EQ(0, io_->readSome(buf, sizeof buf, 60000));
    EXPECT_TRUE(io_->cancelled());
    peerSends("x");
    EXPECT_EQ(1, io_->readSome(buf, sizeof buf, 5000));
    EXPECT_FALSE(io_->cancelled());
    io_->cancel();
    EXPECT_EQ(-1, io_->writeSome("z", 1, 60000));
    EXPECT_TRUE(io_->cancelled());

    peerSends("abcd");
    io_->cancel();
    EXPECT_EQ(4, io_->readAll(buf, 4)) << io_->lastError();
    io_->cancel();
    EXPECT_EQ(2, io_->writeAll("xy", 2)) << io_->lastError();
    EXPECT_EQ("xy", CorvaneTest::recvUpTo(peer_.get(), 2));
    EXPECT_FALSE(io_->cancelled());
}

TEST_F(CoIoDescriptorTest, TimedCallsReturnZeroWhenNothingHappens) {
    char buf[16];
    EXPECT_EQ(0, io_->readSome(buf, sizeof buf, 20));
    EXPECT_EQ(0, io_->readSome(buf, sizeof buf, -5));
    // The peer never reads. The loop ends at the first write that finds no
    // room: the buffers may take more after a write that did not wait.
    const std::string chunk(64 << 10, 'y');
    int result = 1;
    for (int i = 0; i < 10000 && result > 0; ++i)
        result = io_->writeSome(chunk.data(), static_cast<int>(chunk.size()), i % 2 ? 20 : 0);
    EXPECT_EQ(0, result) << "the socket never filled up";
    EXPECT_EQ("", io_->lastError());
    EXPECT_FALSE(io_->cancelled());
}

// After the data it left, a closed peer fails every call; so does a
// closed descriptor.
TEST_F(CoIoDescriptorTest, EveryCallFailsAfterPeerCloseAndAfterClose) {
    EXPECT_TRUE(io_->isConnected());
    peerSends("four\nxyz\npartial");
    peer_.reset();
    EXPECT_TRUE(io_->isConnected());  // unread data first
    char buf[8];
    EXPECT_EQ(4, io_->readLine(buf, sizeof buf));
    EXPECT_EQ(1, io_->readLine(buf, 2));  // too long: the last character stays
    EXPECT_STREQ("z", buf);
    const struct {
        const char* call;
        std::function<int()> run;
        int result;
        int err;
    } cases[] = {
        {"readLine", [&] { return io_->readLine(buf, sizeof buf); }, 0, ECONNRESET},  // "partial", then the end
        {"readAll", [&] { return io_->readAll(buf, 1); }, -1, ECONNRESET},
        {"readSome", [&] { return io_->readSome(buf, 1, 1000); }, -1, ECONNRESET},
        {"isConnected", [&] { return io_->isConnected() ? 1 : 0; }, 0, ECONNRESET},
        {"writeAll", [&] { return io_->writeStr("after close\n") ? 1 : 0; }, 0, ECONNRESET},
        {"close", [&] { return io_->close() && !io_->isValid() && io_->close() ? 1 : 0; }, 1, ECONNRESET},
        {"isConnected", [&] { return io_->isConnected() ? 1 : 0; }, 0, ENOTCONN},
        {"readAll", [&] { return io_->readAll(buf, 1); }, -1, ENOTCONN},
        {"writeAll", [&] { return io_->writeAll("x", 1); }, -1, ENOTCONN},
        {"readSome", [&] { return io_->readSome(buf, 1, 0); }, -1, ENOTCONN},
        {"writeSome", [&] { return io_->writeSome("x", 1, 0); }, -1, ENOTCONN},
        {"rawRead", [&] { return io_->rawRead(buf, 1); }, 0, ENOTCONN},
        {"rawWrite", [&] { return io_->rawWrite("x", 1); }, -1, ENOTCONN},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.result, c.run()) << c.call;
        EXPECT_EQ(textOf(c.err), io_->lastError()) << c.call;
    }
    // Closing a descriptor that is already gone is no failure; writing to
    // a socket whose peer is gone is one, not a full buffer.
    CoIoDescriptor stale(1 << 20);
    EXPECT_TRUE(stale.close());
    EXPECT_EQ("", stale.lastError());
    int pair[2];
    ASSERT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair));
    ::close(pair[1]);
    CoIoDescriptor orphan(pair[0]);
    EXPECT_EQ(-1, orphan.rawWrite("x", 1));
    EXPECT_EQ(textOf(EPIPE), orphan.lastError());
}

// ---- TCP clients

// client sends a line to the raw server end and reads the answer; both ends
// are at address. Returns the server end.
ScopedFd talks(CoIoDescriptor& client, ScopedFd server, const std::string& address) {
    EXPECT_TRUE(server.valid());
    EXPECT_TRUE(client.writeStr("sync 0 _ping \n"));
    std::string line;
    EXPECT_TRUE(CorvaneTest::recvLine(server.get(), &line));
    EXPECT_EQ("sync 0 _ping ", line);
    EXPECT_TRUE(CorvaneTest::sendAll(server.get(), "ok \n"));
    char buf[16];
    EXPECT_EQ(3, client.readLine(buf, sizeof buf));
    EXPECT_STREQ("ok ", buf);
    std::string local, peer;
    EXPECT_TRUE(client.getSocketIP(local) && client.getPeerIP(peer));
    EXPECT_EQ(address, local);
    EXPECT_EQ(address, peer);
    return server;
}

TEST(CoIoTcpDescriptorTest, ConnectsByAddressOrNameAndTalks) {
    const struct {
        const char* host;
        bool ipv6;
        const char* address;
    } cases[] = {{"127.0.0.1", false, "127.0.0.1"}, {"localhost", false, nullptr}, {"::1", true, "::1"}};
    // A name connects to its first address, which the hosts file chooses.
    const std::string localhost = CoIoTcpDescriptor::getIpAddrFromHostName("localhost");
    for (auto c : cases) {
        SCOPED_TRACE(c.host);
        if (!c.address) {
            c.address = localhost.c_str();
            c.ipv6 = localhost.find(':') != std::string::npos;
        }
        if (c.ipv6 && !CorvaneTest::ipv6LoopbackAvailable())
            continue;
        LoopbackListener listener(16, c.ipv6);
        CoIoTcpDescriptor client(c.host, listener.port(), 8192, 8192, 5);
        ASSERT_EQ("", client.lastError());
        EXPECT_TRUE(client.isConnected());
        for (int option : {SO_SNDBUF, SO_RCVBUF}) {  // as asked for, which the kernel doubles
            int size = 0;
            socklen_t length = sizeof size;
            EXPECT_EQ(0, ::getsockopt(client.getFd(), SOL_SOCKET, option, &size, &length));
            EXPECT_EQ(2 * 8192, size) << option;
        }
        EXPECT_TRUE(client.setNonBlocking(false));  // a caller that wants to block may
        EXPECT_EQ(0, ::fcntl(client.getFd(), F_GETFL) & O_NONBLOCK);
        talks(client, listener.accept(), c.address);
    }
}

// A refused connect leaves its text and a descriptor (callers look at the
// text); one that gets no answer gives up after its time-out or a cancel.
TEST(CoIoTcpDescriptorTest, FailedConnectLeavesItsText) {
    int port = -1;
    const ScopedFd closed = CorvaneTest::bindWithoutListening(&port);
    ASSERT_TRUE(closed.valid());
    CoIoTcpDescriptor refused("127.0.0.1", port, 0, 0, 5);
    EXPECT_EQ(textOf(ECONNREFUSED), refused.lastError());
    EXPECT_EQ(textOf(EINVAL), CoIoTcpDescriptor("127.0.0.1", 65536, 0, 0, 5).lastError()) << "past the last port";
    EXPECT_TRUE(refused.isValid());
    EXPECT_FALSE(refused.isConnected());
    CorvaneTest::MessageLog::Scope log;
    std::string peer;
    EXPECT_FALSE(refused.getPeerIP(peer));
    EXPECT_TRUE(log->contains(textOf(ENOTCONN), Corvane::CoMsg::error));
#ifndef CORVANE_SANITIZER  // its runtime needs free descriptors
    CoIoTcpDescriptor starved;
    bool connected = true;
    withNoFreeDescriptor([&] { connected = starved.connectTo("127.0.0.1", port, 0, 0, 5); });
    EXPECT_FALSE(connected);
    EXPECT_EQ(textOf(EMFILE), starved.lastError());
#endif
    LoopbackListener listener(0);
    const std::vector<ScopedFd> pending = CorvaneTest::stallListener(listener.port());
    if (pending.empty())
        GTEST_SKIP() << "this kernel completes every loopback connect, so none can time out";
    CoIoTcpDescriptor client;
    EXPECT_FALSE(client.connectTo("127.0.0.1", listener.port(), 0, 0, 1));
    EXPECT_EQ(textOf(ETIMEDOUT), client.lastError());
    EXPECT_FALSE(client.isConnected());  // nothing to read must not pass for a peer
    // A cancel made before the connect began still ends it at once.
    CoIoTcpDescriptor cancelled;
    cancelled.cancel();
    EXPECT_FALSE(cancelled.connectTo("127.0.0.1", listener.port(), 0, 0, 30));
    EXPECT_EQ(textOf(ECONNABORTED), cancelled.lastError());
}

// The binary runs in a network namespace of its own: no query leaves the
// machine, and a name that is not local fails at once. The local name is
// shortened unless it is a local domain's.
TEST(CoIoTcpDescriptorTest, LooksUpNamesAndShortensTheLocalOne) {
    std::string text;
    EXPECT_FALSE(CoIoTcpDescriptor::getIpAddrFromHostName("no-such-host.invalid", text));
    EXPECT_FALSE(CoIoTcpDescriptor::getHostNameFromIpAddr("no-such-host.invalid", true, text));
    EXPECT_TRUE(CoIoTcpDescriptor::getHostNameFromIpAddr("127.0.0.1", true, text)) << "the hosts file names it";
    CoIoTcpDescriptor client("no-such-host.invalid", 1, 0, 0, 1);
    EXPECT_NE("", client.lastError());
    EXPECT_FALSE(client.isValid());
    char raw[256] = {};
    ASSERT_EQ(0, ::gethostname(raw, sizeof raw - 1));
    EXPECT_EQ(CoIoTcpDescriptor::shortenHostName(raw), CoIoTcpDescriptor::getLocalHostName());
    const std::pair<const char*, const char*> cases[] = {{"box.example.com", "box"},
                                                         {"box.local", "box.local"},
                                                         {"box.localdomain", "box.localdomain"},
                                                         {"box.", "box"},
                                                         {"a.b.local", "a"},
                                                         {"", ""}};
    for (const auto& c : cases)
        EXPECT_EQ(c.second, CoIoTcpDescriptor::shortenHostName(c.first)) << "name: '" << c.first << "'";
}

// ---- TCP servers

// Sets environment variables for one test and removes them again.
struct ScopedEnv {
    explicit ScopedEnv(std::vector<const char*> set) : names(std::move(set)) {
        for (const char* name : names)
            ::setenv(name, "1", 1);
    }
    ~ScopedEnv() {
        for (const char* name : names)
            ::unsetenv(name);
    }
    std::vector<const char*> names;
};

bool accepts(int port, bool ipv6) { return CorvaneTest::connectLoopback(port, ipv6).valid(); }

// A system-chosen port serves both families unless one is switched off.
TEST(CoIoTcpServerDescriptorTest, FamilySwitchesDecideWhoIsServed) {
    const bool haveIpv6 = CorvaneTest::ipv6LoopbackAvailable();
    const struct {
        std::vector<const char*> disabled;
        bool ipv4;
        bool ipv6;
    } cases[] = {{{}, true, haveIpv6}, {{"XQ_TCP_DISABLE_IPV6"}, true, false}, {{"XQ_TCP_DISABLE_IPV4"}, false, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.disabled.empty() ? "dual stack" : c.disabled[0]);
        if (c.ipv6 && !haveIpv6)
            continue;
        ScopedEnv env(c.disabled);
        CoIoTcpServerDescriptor server;
        ASSERT_TRUE(server.initPort(-1)) << server.lastError();
        EXPECT_EQ(c.ipv4, accepts(server.getPort(), false));
        EXPECT_TRUE(!haveIpv6 || c.ipv6 == accepts(server.getPort(), true)) << "over IPv6";
    }
    // A chosen-address IPv6 listener leaves the IPv4 side of its port to another socket.
    int port = 0, same = 0, err = 0;
    const ScopedFd six(Corvane::listenTcpOn(haveIpv6 ? "::" : "0.0.0.0", 0, {}, &port, &err));
    const ScopedFd four(Corvane::listenTcpOn("0.0.0.0", port, {}, &same, &err));
    EXPECT_TRUE(!haveIpv6 || (six.valid() && four.valid())) << textOf(err);
    ScopedEnv both({"XQ_TCP_DISABLE_IPV6", "XQ_TCP_DISABLE_IPV4"});
    CoIoTcpServerDescriptor server;
    EXPECT_FALSE(server.initPort(-1));
    EXPECT_EQ("No protocol available", server.lastError());
    EXPECT_FALSE(server.isValid());
}

// Each call gives up the socket of the one before. A scan starts at portMin
// or at -port; a -1 lower limit means the default one.
TEST(CoIoTcpServerDescriptorTest, PortChoiceScansAndFailsWithItsReason) {
    CorvaneTest::MessageLog::Scope log;
    CoIoTcpServerDescriptor taken;
    ASSERT_TRUE(taken.initPort(-1));
    const int t = taken.getPort(), low = CoIoTcpServerDescriptor::kDefaultPortMin;
    const struct {
        int port, portMin, portMax, from, to, err;
    } cases[] = {{-1, t, t + 20, t + 1, t + 20, 0},    {-t, t - 1, t + 20, t + 1, t + 20, 0},
                 {-1, -1, low + 20, low, low + 20, 0}, {t, -1, -1, -1, -1, EADDRINUSE},
                 {-1, t, t, -1, -1, EADDRINUSE},       {-t, t - 1, t, -1, -1, EADDRINUSE},
                 {70000, -1, -1, -1, -1, EINVAL},      {0, -1, -1, -1, -1, 0}};
    for (const bool ipv4Only : {false, true}) {
        ScopedEnv env(ipv4Only ? std::vector<const char*>{"XQ_TCP_DISABLE_IPV6"} : std::vector<const char*>{});
        for (const auto& c : cases) {
            SCOPED_TRACE(std::to_string(c.port) + " " + std::to_string(c.portMin) + " ipv4 only " +
                         std::to_string(ipv4Only));
            CoIoTcpServerDescriptor server;
            ASSERT_TRUE(server.initPort(-1));
            EXPECT_EQ(c.from >= 0, server.initPort(c.port, 0, 0, c.portMin, c.portMax)) << server.lastError();
            EXPECT_EQ(c.err ? std::strerror(c.err) : "", server.lastError());
            EXPECT_TRUE(server.getPort() >= c.from && server.getPort() <= c.to) << server.getPort();
            EXPECT_EQ(c.from >= 0, server.isValid());
            EXPECT_EQ(c.from >= 0, c.from >= 0 && accepts(server.getPort(), false));
        }
    }
    EXPECT_TRUE(log->contains("Could not bind to port '70000' [fd:-1]"));
    // A connection leaves the port in TIME_WAIT once closed; it is bound again.
    EXPECT_TRUE(accepts(t, false));
    taken.close();
    CoIoTcpServerDescriptor again;
    ASSERT_TRUE(again.initPort(t)) << again.lastError();
    EXPECT_EQ(t, again.getPort());
}

// ---- the local message queue

// Opening again drops the socket file's connection; a failed open leaves no
// socket and a text why.
TEST(CoIoMsgQDescriptorTest, TalksOverTheSocketFileAndFailsToOpenWithATextWhy) {
    CorvaneTest::TempDir dir;
    CorvaneTest::LocalListener listener(dir.file("msgq.cv.a"));
    CoIoMsgQDescriptor queue;
    ASSERT_TRUE(queue.open(listener.path())) << queue.lastError();
    const ScopedFd server = talks(queue, listener.accept(), "127.0.0.1");

    CorvaneTest::LocalListener second(dir.file("msgq.cv.2"));
    ASSERT_TRUE(queue.open(second.path()));
    EXPECT_EQ("", CorvaneTest::recvUpTo(server.get(), 1));  // the first server sees its client go
    const ScopedFd secondServer = second.accept();
    EXPECT_TRUE(queue.writeStr("x"));
    EXPECT_EQ("x", CorvaneTest::recvUpTo(secondServer.get(), 1));

    const struct {
        std::string path;
        int err;
    } cases[] = {
        {dir.file("nobody-listens"), ENOENT},
        {dir.file(std::string(200, 'p')), ENAMETOOLONG},  // would not fit the address
        {dir.path(), ECONNREFUSED},                       // a directory is no socket
    };
    for (const auto& c : cases) {
        CoIoMsgQDescriptor failed;
        EXPECT_FALSE(failed.open(c.path));
        EXPECT_EQ(textOf(c.err), failed.lastError()) << c.path;
        EXPECT_FALSE(failed.isValid());
    }
}

// ---- descriptors of every kind, as a process sees them

class KeepingHandler : public Corvane::CoIoTcpServerHandler {
public:
    bool newConnection(std::unique_ptr<Corvane::CoIoTcpDescriptor> client) override {
        client_ = std::move(client);
        return true;
    }
    std::unique_ptr<Corvane::CoIoTcpDescriptor> client_;
};

// Opens one descriptor of every kind and an accepted connection; all of them
// stay open while the returned objects live.
struct EveryKind {
    explicit EveryKind(const std::string& dir) : local(dir + "/msgq.cv.test") {
        EXPECT_TRUE(handler.server().initPort(-1));
        EXPECT_TRUE(handler.handleReadable() && !handler.client_);  // no client waiting: still serving
        client = std::make_unique<Corvane::CoIoTcpDescriptor>("127.0.0.1", handler.server().getPort(), 0, 0, 5);
        EXPECT_EQ("", client->lastError());
        pollfd pfd = {handler.server().getFd(), POLLIN, 0};
        EXPECT_EQ(1, ::poll(&pfd, 1, 5000));
        EXPECT_TRUE(handler.handleReadable());
        EXPECT_TRUE(handler.client_ && handler.client_->isConnected());
        int closedPort = -1;
        const ScopedFd blocker = CorvaneTest::bindWithoutListening(&closedPort);
        refused = std::make_unique<Corvane::CoIoTcpDescriptor>("127.0.0.1", closedPort, 0, 0, 5);
        EXPECT_NE("", refused->lastError());
        EXPECT_TRUE(msgq.open(local.path())) << msgq.lastError();
        EXPECT_FALSE(missing.open(dir + "/missing"));
    }
    CorvaneTest::LocalListener local;
    KeepingHandler handler;
    std::unique_ptr<Corvane::CoIoTcpDescriptor> client;
    std::unique_ptr<Corvane::CoIoTcpDescriptor> refused;
    Corvane::CoIoMsgQDescriptor msgq;
    Corvane::CoIoMsgQDescriptor missing;
    CoIoDescriptor bare;
};

// Every descriptor is close-on-exec, and all are gone after use and failure.
TEST(CoIoDescriptorResources, EveryDescriptorIsCloseOnExecAndNoneLeaks) {
    CorvaneTest::TempDir dir;
    const std::set<int> before = CorvaneTest::openFds();
    for (int round = 0; round < 2; ++round) {
        EveryKind kinds(dir.path());
        Corvane::CoIoTcpServerDescriptor again;
        EXPECT_TRUE(again.initPort(-1));
        EXPECT_TRUE(again.initPort(-1));  // the first socket is closed, not leaked
        int checked = 0;
        for (int fd : CorvaneTest::openFds()) {
            const int flags = ::fcntl(fd, F_GETFD);
            EXPECT_TRUE(before.count(fd) || (flags >= 0 && (flags & FD_CLOEXEC))) << "descriptor " << fd;
            checked += before.count(fd) ? 0 : 1;
        }
        // Sockets of the local listener, two servers, client, accepted,
        // refused and local connections, plus a cancel pipe for each of
        // eight descriptors.
        EXPECT_GE(checked, 7 + 2 * 8);
        EXPECT_TRUE(kinds.client->close());
    }
    EXPECT_EQ(before, CorvaneTest::openFds());
}

}  // namespace
