#include <climits>
#include <cstdint>

#include "base/loggerBase/CoMsg.h"
#include "base/rcApi/rcServerContext.h"
#include "base/time/CoClock.h"

namespace Corvane {

rcServerContext::Client::Client(rcServerContext& server, std::unique_ptr<CoIoTcpDescriptor> descriptor)
    : CoIoHandler(kReadEvent), server_(server), descriptor_(std::move(descriptor)) {}

rcServerContext::Client::~Client() = default;

const CoIoDescriptor* rcServerContext::Client::getDescriptor() const { return descriptor_.get(); }

CoIoDescriptor* rcServerContext::Client::getDescriptor() { return descriptor_.get(); }

bool rcServerContext::Client::handleReadable() {
    if (!descriptor_)
        return false;
    std::vector<char>& buf = server_.readBuffer_;
    // The pass saw the socket ready, so this read does not wait.
    const int n = descriptor_->rawRead(buf.data(), static_cast<int>(buf.size()));
    if (n <= 0) {
        if (n < 0)
            CO_DEBUG("Client connection [fd:%d] failed: %s", descriptor_->getFd(), descriptor_->lastError().c_str());
        close();
        server_.retire(this);  // unregisters this handler; it is deleted later
        return false;
    }
    const char* p = buf.data();
    size_t left = static_cast<size_t>(n);
    while (left > 0) {
        bool complete = false;
        const size_t used = command_.feed(p, left, &complete);
        p += used;
        left -= used;
        commandBytes_ += used;
        if (commandBytes_ > server_.maxCommandBytes()) {
            CO_ERROR("Command line longer than %zu bytes [fd:%d]; dropping the client.", server_.maxCommandBytes(),
                     descriptor_->getFd());
            close();
            server_.retire(this);
            return false;
        }
        if (!complete)
            break;
        server_.processCommand(command_, this);
        command_.reset();
        commandBytes_ = 0;
        if (!descriptor_ || !descriptor_->isValid()) {
            server_.retire(this);
            return false;
        }
    }
    return true;
}

bool rcServerContext::Client::descriptorLost() {
    server_.retire(this);
    return true;
}

bool rcServerContext::Client::send(const std::string& text) {
    if (!descriptor_ || !descriptor_->isValid())
        return false;
    const char* p = text.data();
    size_t left = text.size();
    // Most replies fit the socket buffer: one send, no wait.
    int n = descriptor_->rawWrite(p, left > INT_MAX ? INT_MAX : static_cast<int>(left));
    const int64_t deadline = CoClock::monotonicMs() + kReplyTimeoutMs;
    while (n >= 0) {
        p += n;
        left -= static_cast<size_t>(n);
        if (left == 0)
            return true;
        const int64_t msLeft = deadline - CoClock::monotonicMs();
        if (msLeft <= 0)
            break;
        n = descriptor_->writeSome(p, left > INT_MAX ? INT_MAX : static_cast<int>(left), static_cast<int>(msLeft));
    }
    CO_ERROR("%s", n < 0 ? descriptor_->lastError().c_str() : "Timed out writing a reply; dropping the client.");
    close();
    return false;
}

void rcServerContext::Client::close() {
    if (descriptor_)
        descriptor_->close();
}

}  // namespace Corvane
