// Internal to corvane_sim.
// One raw data connection of the stand-in server's frame service: reads
// requests of the frame protocol and answers them, until the client closes,
// sends something that is not a request, or the service shuts it down. A
// bad request ends the connection: the bytes behind it can not be trusted
// to start the next one. Used by the one thread that serves the connection;
// the descriptor stays the caller's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "client/api/CorvaneFrameInterface.h"

namespace CorvaneSim {

class SimFrames;

class SimFrameConnection {
public:
    SimFrameConnection(SimFrames& frames, int fd);

    void run();

private:
    using Method = CorvaneFrameInterface::Method;

    // Serves one request; false ends the connection.
    bool serveOne();
    bool readFrame(Method method);
    bool readAhead(Method method);
    bool writeFrame();
    bool readStream();
    bool pullFile();
    bool pushFile();

    // Reading, through a small buffer that bulk reads bypass.
    bool fill();
    bool token(std::string* out, size_t maxBytes);
    bool integer(int64_t* out);
    bool exact(void* data, size_t size);
    // A parameter block: its size token, then the block (skipped).
    bool params();

    bool send(const void* data, size_t size);
    bool sendText(const std::string& text);  // with its NUL
    bool sendInteger(int64_t value);
    bool sendZeros(size_t size);

    SimFrames& frames_;
    const int fd_;
    std::vector<char> buffer_;
    size_t begin_ = 0;
    size_t end_ = 0;
};

}  // namespace CorvaneSim
