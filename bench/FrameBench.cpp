// Frame data throughput on loopback: readFrame of 8 MiB frames and pullFile
// of a 1 GiB file from a corvane-sim, each beside a raw transfer of the
// same bytes in 256 KiB blocks between two threads of this process, which
// is the floor for one TCP connection. Files live in memory (/dev/shm), so
// that the disk does not decide.
//
// Copies of the bytes, per side: readFrame, one from the sim's frame into
// the socket and one from the socket into the caller's buffer, as in the
// raw transfer. pullFile, two on each side (file to block, block to
// socket; socket to transfer buffer, buffer to file), as in the raw file
// transfer.
//
// Run: bench/frames_events.sh (a private network namespace), or
//      scripts/private-network.sh build/bin/FrameBench
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "BenchSim.h"
#include "client/api/CorvaneInit.h"
#include "client/api/CorvaneNodeHandle.h"
#include "client/api/CorvaneServerHandle.h"

namespace {

constexpr size_t kBlock = 256 * 1024;
constexpr size_t kFrameBytes = 8u << 20;
constexpr size_t kFileBytes = 1u << 30;

struct World {
    CorvaneBench::ScratchDir remote;  // the sim's file directory
    CorvaneBench::ScratchDir local;
    CorvaneInitGuard init;
    std::unique_ptr<CorvaneBench::BenchSim> sim;
    std::unique_ptr<CorvaneServerHandle> server;
    std::unique_ptr<CorvaneNodeHandle> clip;

    World() {
        sim.reset(new CorvaneBench::BenchSim(CorvaneBench::writeTree(local), {"--file-dir", remote.path()}));
        server.reset(new CorvaneServerHandle(sim->host().c_str()));
        clip.reset(new CorvaneNodeHandle(*server, "/media/clip"));
        const std::string block(kBlock, 'f');
        FILE* f = std::fopen(remote.file("big").c_str(), "w");
        for (size_t done = 0; f && done < kFileBytes; done += kBlock)
            std::fwrite(block.data(), 1, block.size(), f);
        if (f)
            std::fclose(f);
    }
};

// Made in main and gone before main returns: the library must stop while
// its own singletons still exist.
World* gWorld = nullptr;

World& world() { return *gWorld; }

void setOptions(int fd) {
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// Two connected loopback TCP sockets.
void socketPair(int* a, int* b) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr;
    std::memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(listener, 1);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
    *a = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ::connect(*a, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    *b = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ::close(listener);
    setOptions(*a);
    setOptions(*b);
}

bool recvAll(int fd, char* p, size_t n) {
    while (n > 0) {
        const ssize_t got = ::recv(fd, p, n < kBlock ? n : kBlock, 0);
        if (got <= 0)
            return false;
        p += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

bool sendAll(int fd, const char* p, size_t n) {
    while (n > 0) {
        const ssize_t sent = ::send(fd, p, n, MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        p += sent;
        n -= static_cast<size_t>(sent);
    }
    return true;
}

// The raw floor: on each request byte the server thread sends size bytes
// in 256 KiB blocks, read from source when it is a file, else from memory;
// the client reads them into memory, or writes them to sink when given.
void rawTransfer(benchmark::State& state, size_t size, const std::string& source, const std::string& sink) {
    int client = -1, server = -1;
    socketPair(&client, &server);
    std::thread serving([&] {
        std::vector<char> block(kBlock, 'r');
        char request = 0;
        while (::recv(server, &request, 1, 0) == 1) {
            const int in = source.empty() ? -1 : ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
            for (size_t left = size; left > 0;) {
                const size_t n = left < kBlock ? left : kBlock;
                if ((in >= 0 && ::read(in, block.data(), n) != static_cast<ssize_t>(n)) ||
                    !sendAll(server, block.data(), n))
                    break;
                left -= n;
            }
            if (in >= 0)
                ::close(in);
        }
    });
    std::vector<char> buffer(sink.empty() ? size : kBlock);
    for (auto _ : state) {
        const int out = sink.empty() ? -1 : ::open(sink.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        bool ok = ::send(client, "r", 1, 0) == 1;
        for (size_t left = size; ok && left > 0;) {
            const size_t n = out < 0 ? left : (left < kBlock ? left : kBlock);
            ok = recvAll(client, buffer.data() + (out < 0 ? size - left : 0), n) &&
                 (out < 0 || ::write(out, buffer.data(), n) == static_cast<ssize_t>(n));
            left -= n;
        }
        if (out >= 0)
            ::close(out);
        if (!ok) {
            state.SkipWithError("raw transfer failed");
            break;
        }
    }
    ::shutdown(client, SHUT_RDWR);
    serving.join();
    ::close(client);
    ::close(server);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

void BM_ReadFrame(benchmark::State& state) {
    World& w = world();
    std::vector<char> buffer(kFrameBytes, 'w');
    if (!w.clip->writeFrame("/media/clip#0", buffer.data(), buffer.size())) {
        state.SkipWithError(w.clip->lastError());
        return;
    }
    for (auto _ : state) {
        if (!w.clip->readFrame("/media/clip#0", buffer.data(), buffer.size())) {
            state.SkipWithError(w.clip->lastError());
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFrameBytes));
}

void BM_RawFrame(benchmark::State& state) { rawTransfer(state, kFrameBytes, "", ""); }

void BM_PullFile(benchmark::State& state) {
    World& w = world();
    const std::string out = w.local.file("pulled");
    for (auto _ : state) {
        // As the raw transfer truncates its file before writing it: the
        // pages of the old file are free again. (A pull keeps the old file
        // until the new one is whole.)
        ::unlink(out.c_str());
        if (!w.server->pullFile("big", out.c_str())) {
            state.SkipWithError(w.server->lastError());
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileBytes));
}

void BM_RawFile(benchmark::State& state) {
    World& w = world();
    rawTransfer(state, kFileBytes, w.remote.file("big"), w.local.file("raw"));
}

void BM_RawFileSocketOnly(benchmark::State& state) { rawTransfer(state, kFileBytes, "", ""); }

}  // namespace

// Interleaved, so that machine noise hits each pair alike.
BENCHMARK(BM_RawFrame)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_ReadFrame)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_RawFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_PullFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_RawFileSocketOnly)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    {
        World w;
        gWorld = &w;
        benchmark::RunSpecifiedBenchmarks();
        gWorld = nullptr;
    }
    benchmark::Shutdown();
    return 0;
}
