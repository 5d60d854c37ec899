#include "ClientLibrary.h"

#include "base/loggerBase/CoMsg.h"
#include "client/api/CorvaneInit.h"

ClientLibrary::ClientLibrary(bool persistent) : persistent_(persistent) {}

ClientLibrary::~ClientLibrary() {
    if (started_)
        corvaneUninit();
}

bool ClientLibrary::start() {
    if (!persistent_)
        return corvaneInit();
    std::lock_guard<std::mutex> lock(mutex_);
    if (!ready_) {
        // A failed start still counts; balance it before trying again. No
        // request uses the library meanwhile: none found it ready.
        if (started_)
            corvaneUninit();
        started_ = true;
        ready_ = corvaneInit();
        logLevel_ = Corvane::CoMsg::getLevel();
    }
    Corvane::CoMsg::setLevel(logLevel_);
    return ready_;
}

void ClientLibrary::requestDone() {
    if (!persistent_)
        corvaneUninit();
}
