#include "base/rcApi/rcServerContext.h"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <exception>
#include <optional>

#include "base/loggerBase/CoException.h"
#include "base/loggerBase/CoMsg.h"
#include "base/rcApi/rcSysCalls.h"
#include "base/threads/CoLockGuard.h"

namespace Corvane {

namespace {

constexpr size_t kReadBufferBytes = 32768;

const rcParam::Decl kLoginParams[] = {{&rcParamString::TYPE, "attrStr"}, {nullptr, nullptr}};

[[noreturn]] void throwSetupError(const char* text) {
    CO_ERROR("%s", text);
    throw CoException(text, __LINE__, __FILE__);
}

}  // namespace

rcServerContext::rcServerContext(int portMin, int portMax) : readBuffer_(kReadBufferBytes) {
    if (!server().initPort(-1, 0, 0, portMin, portMax)) {
        char text[512];
        std::snprintf(text, sizeof text, "Unable to find port in range %d to %d accept connections: %s", portMin,
                      portMax, server().lastError().c_str());
        throwSetupError(text);
    }
    registerBuiltIns();
    appContext_.registerIOHandler(this);
}

rcServerContext::rcServerContext(int port) : readBuffer_(kReadBufferBytes) {
    if (!server().initPort(port)) {
        char text[512];
        std::snprintf(text, sizeof text, "Unable to set-up port %d to accept connections: %s", port,
                      server().lastError().c_str());
        throwSetupError(text);
    }
    registerBuiltIns();
    appContext_.registerIOHandler(this);
}

rcServerContext::~rcServerContext() {
    appContext_.unregisterIOHandler(this);
    for (const std::unique_ptr<Client>& client : clients_)
        appContext_.unregisterIOHandler(client.get());
}

void rcServerContext::registerBuiltIns() {
    registerMethod(
        rcMethod(this, rcSysCalls::CALL_LOGIN, &rcServerContext::loginCB, &rcParamString::TYPE, kLoginParams));
    registerMethod(
        rcMethod(this, rcSysCalls::CALL_PING, &rcServerContext::pingCB, &rcParamVoid::TYPE, rcMethod::dudParamList_));
}

bool rcServerContext::registerMethod(const rcMethod& method, bool delayedReturn) {
    {
        CoLockGuard guard(tablesMutex_);
        if (methods_.emplace(method.name(), MethodEntry{method, delayedReturn}).second)
            return true;
    }
    CO_ERROR("Method '%s' already registered", method.name());
    return false;
}

bool rcServerContext::unregisterMethod(const char* name) {
    CoLockGuard guard(tablesMutex_);
    if (!name)
        return false;
    const auto it = methods_.find(name);
    if (it == methods_.end())
        return false;
    methods_.erase(it);
    return true;
}

bool rcServerContext::registerObject(int id, void* object) {
    if (id == 0) {
        CO_ERROR("Reserved object Id");
        return false;
    }
    {
        CoLockGuard guard(tablesMutex_);
        if (objects_.emplace(id, object).second)
            return true;
    }
    CO_ERROR("Object '%d' already registered", id);
    return false;
}

bool rcServerContext::unregisterObject(int id) {
    CoLockGuard guard(tablesMutex_);
    return objects_.erase(id) > 0;
}

bool rcServerContext::authenticate(const rcConnectionInfo&) { return true; }

void rcServerContext::processCommand(rcCommand& cmd, Client* client) {
    assert(client && "client");
    currentClient_ = client;
    const bool sync = cmd.isSync();
    bool reply = sync;

    // Copy the method out: it runs without the lock, and a failure's error
    // text then stays with this call.
    std::optional<MethodEntry> entry;
    void* object = nullptr;
    bool objectFound = true;
    const int id = cmd.objectId();
    {
        CoLockGuard guard(tablesMutex_);
        const auto m = methods_.find(cmd.method());
        if (m != methods_.end())
            entry.emplace(m->second);
        if (id != 0) {
            const auto o = objects_.find(id);
            objectFound = o != objects_.end();
            if (objectFound)
                object = o->second;
        }
    }

    if (!entry) {
        reply_.set(rcResult::kError, std::string("Unknown method: ") + cmd.method());
    } else if (!objectFound) {
        char text[64];
        std::snprintf(text, sizeof text, "Invalid Object: %d", id);
        reply_.set(rcResult::kError, text);
    } else {
        const bool delayed = sync && entry->delayedReturn;
        if (delayed)
            client->waitingForReply_ = true;  // the method may answer before it returns
        std::string out;
        bool ok = false;
        try {
            ok = entry->method.invoke(object, cmd.args(), out);
        } catch (const std::exception& e) {
            out = e.what();
        } catch (...) {
            out = std::string("Unexpected failure in method '") + cmd.method() + "'";
        }
        if (delayed) {
            // A delayed method that failed answers now; one that succeeded
            // answers through delayedReturn().
            reply = !ok && isLive(client) && client->waitingForReply_;
            if (reply)
                client->waitingForReply_ = false;
        }
        reply_.set(ok ? rcResult::kOk : rcResult::kError, out);
    }

    if (reply && isLive(client)) {
        replyText_.clear();
        reply_.render(replyText_);
        client->send(replyText_);
    }
    currentClient_ = nullptr;
}

bool rcServerContext::delayedReturn(Client* client, const rcResult& reply) {
    if (!client || !isLive(client) || !client->waitingForReply_) {
        CO_ERROR("Trying to do a delayed return for a client that isn't waiting for it.");
        return false;
    }
    client->waitingForReply_ = false;
    std::string text;
    reply.render(text);
    if (client->send(text))
        return true;
    // send() closed the connection; the next pass drops the client.
    return false;
}

bool rcServerContext::newConnection(std::unique_ptr<CoIoTcpDescriptor> descriptor) {
    // Safe here: a retired client was visited before this handler in the
    // pass that retired it, or in an earlier pass.
    retired_.clear();
    clients_.push_back(std::make_unique<Client>(*this, std::move(descriptor)));
    appContext_.registerIOHandler(clients_.back().get());
    return true;
}

void rcServerContext::retire(Client* client) {
    appContext_.unregisterIOHandler(client);
    const auto it = std::find_if(clients_.begin(), clients_.end(),
                                 [client](const std::unique_ptr<Client>& c) { return c.get() == client; });
    if (it == clients_.end())
        return;
    // The descriptor goes now, with its socket and cancel pipe; only the
    // small object waits.
    (*it)->descriptor_.reset();
    retired_.push_back(std::move(*it));
    clients_.erase(it);
}

bool rcServerContext::isLive(const Client* client) const {
    for (const std::unique_ptr<Client>& c : clients_) {
        if (c.get() == client)
            return c->descriptor_ && c->descriptor_->isValid();
    }
    return false;
}

bool rcServerContext::loginCB(void*, const rcMethod& method, const rcParam::Array& args, rcParam&) {
    rcServerContext* self = static_cast<rcServerContext*>(method.context());
    auto info = std::make_unique<rcConnectionInfo>(args[0].toString().c_str());
    if (!info->isValid())
        throw CoException("Authentication failed for client's login information", __LINE__, __FILE__);
    Client* client = self->currentClient();
    client->login_ = std::move(info);
    if (!self->authenticate(*client->login_))
        throw CoException("Authentication failed", __LINE__, __FILE__);
    return true;
}

bool rcServerContext::pingCB(void*, const rcMethod&, const rcParam::Array&, rcParam&) { return true; }

}  // namespace Corvane
