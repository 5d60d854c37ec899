// Internal to corvane_sim.
// The stand-in server's frame service: raw data connections speaking the
// frame protocol, on the frame port of the server's addresses and on a
// local socket file. Frames are kept in memory per frame identifier (any
// identifier may be written; reading one never written is an error);
// PullFile and PushFile work inside the file directory; ReadAheadRedirect
// sends the frames this server does not hold to a second server. Every
// request is appended to the call log, as "FrameConnection tcp" or "local"
// for a new connection and "METHOD STRING NUMBER" for a request.
//
// Design note. One acceptor thread waits on the listening sockets and a
// control pipe; every accepted connection is served by a thread of its
// own, with blocking I/O, at most kMaxConnections at once. The destructor
// writes the pipe, shuts every connection down (ending its blocked reads
// and writes), and joins every thread. A frame is an immutable buffer
// behind a shared pointer, so a reader sends from the one it took while a
// writer puts in a new one. mutex_ guards frames_, storedBytes_ and
// workers_, and is never held across I/O.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/SimFileDir.h"
#include "sim/SimOptions.h"

namespace CorvaneSim {

class SimFrameConnection;

class SimFrames {
public:
    static constexpr size_t kMaxConnections = 64;
    static constexpr int64_t kMaxFrameBytes = 256LL * 1024 * 1024;
    static constexpr int64_t kMaxStoredBytes = 2048LL * 1024 * 1024;
    static constexpr size_t kMaxTokenBytes = 4096;
    static constexpr int64_t kMaxParamsBytes = 65536;

    // Listens where options say. redirectRecord: the record ReadAheadRedirect
    // answers with (a daemon information stream), empty for none. Throws
    // Corvane::CoException when a socket or the file directory can not be
    // had.
    SimFrames(const SimOptions& options, std::string redirectRecord);
    ~SimFrames();
    SimFrames(const SimFrames&) = delete;
    SimFrames& operator=(const SimFrames&) = delete;

    int port() const { return port_; }
    // Starts accepting. Throws Corvane::CoException when it can not.
    void start();

    struct Frame {
        std::unique_ptr<char[]> bytes;
        size_t size = 0;
    };
    using FramePtr = std::shared_ptr<const Frame>;

    // For the connections.
    FramePtr find(const std::string& id) const;
    // False with *error set when the store is full.
    bool store(const std::string& id, FramePtr frame, std::string* error);
    const SimFileDir& files() const { return files_; }
    const std::string& redirectRecord() const { return redirectRecord_; }
    void log(const std::string& line);

private:
    struct Worker {
        std::thread thread;
        int fd;  // -1 once the connection closed it
        std::shared_ptr<std::atomic<bool>> done;
    };

    void listen(const SimOptions& options);
    void openLocalSocket(const std::string& path);
    void acceptLoop();
    void accept(int listenFd, bool local);
    void serve(int fd, bool local, std::shared_ptr<std::atomic<bool>> done);
    // Joins the workers that are done; mutex_ held.
    void reapLocked(std::vector<std::thread>* finished);

    SimFileDir files_;
    const std::string redirectRecord_;
    int port_ = 0;
    std::vector<int> listeners_;
    std::vector<bool> listenerLocal_;
    std::string socketPath_;  // removed at destruction; empty when none
    int callLogFd_ = -1;
    int pipe_[2] = {-1, -1};
    std::thread acceptor_;

    mutable std::mutex mutex_;  // guards what follows
    std::map<std::string, FramePtr> frames_;
    int64_t storedBytes_ = 0;
    std::vector<Worker> workers_;
};

}  // namespace CorvaneSim
