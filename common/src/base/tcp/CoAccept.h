// Taking connections from a listening socket, with its failures sorted into
// those that leave the socket fine, those that want the caller to come back
// later, and those that end it. Stateless; any thread may call it.
#pragma once

#include <functional>
#include <string>

namespace Corvane {

enum class AcceptFailure {
    Retry,    // nothing waiting, a signal, or a client gone before accept
    BackOff,  // out of descriptors or memory: the next pass may do better
    Fatal,    // the listening socket itself failed
};

AcceptFailure acceptFailureOf(int err);

// Takes up to maxConnections waiting connections (close-on-exec) from the
// non-blocking listening socket listenFd, handing each to take, which owns
// it. The limit keeps a flood from starving the clients already connected.
// Failures are posted naming the socket as where ("'::1'", "port 7549").
// False when the listening socket failed and should be dropped.
bool acceptPass(int listenFd, int maxConnections, const std::string& where, const std::function<void(int fd)>& take);

}  // namespace Corvane
