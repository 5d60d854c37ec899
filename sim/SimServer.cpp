#include "sim/SimServer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "base/loggerBase/CoException.h"
#include "base/loggerBase/CoMsg.h"
#include "base/rcApi/rcResult.h"
#include "base/rcApi/rcSysCalls.h"
#include "base/tcp/CoIoTcpDescriptor.h"
#include "base/time/CoClock.h"
#include "sim/SimDiscovery.h"
#include "sim/SimListener.h"

namespace CorvaneSim {

namespace {

// One string parameter: the method gets the whole argument text unsplit.
const Corvane::rcParam::Decl kArgsDecl[] = {{&Corvane::rcParamString::TYPE, "args"}, {nullptr, nullptr}};

// Tries for a port free on both loopback addresses when any port will do.
constexpr int kPortAttempts = 20;

[[noreturn]] void throwText(const std::string& text) { throw Corvane::CoException(text.c_str(), __LINE__, __FILE__); }

}  // namespace

SimServer::SimServer(const SimOptions& options, SimTree tree, SimTranslations translations)
    : Corvane::rcServerContext(-1), options_(options) {
    // The context listens on every interface; this server answers on
    // loopback only, through its own listeners.
    appContext().unregisterIOHandler(this);
    server().close();
    listen(options.port);
    service_ =
        std::make_unique<SimService>(std::move(tree), std::move(translations), options.daemonInfo(port_, servesIpv6()));
    for (const auto& link : options.extraChildren) {
        std::string error;
        if (!service_->listExtraChild(link.first, link.second, &error))
            throwText("Option '--extra-child': " + error);
    }
    registerMethods();
    if (!options.callLog.empty()) {
        callLogFd_ = ::open(options.callLog.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (callLogFd_ < 0)
            throwText("Could not open the call log '" + options.callLog + "': " + std::strerror(errno));
    }
}

SimServer::~SimServer() {
    // The goodbye goes out while the server still listens.
    service_->setPeerSource(nullptr);
    discovery_.reset();
    if (callLogFd_ >= 0)
        ::close(callLogFd_);
    for (const std::unique_ptr<SimListener>& l : listeners_)
        appContext().unregisterIOHandler(l.get());
}

void SimServer::listen(int port) {
    const int attempts = port == 0 ? kPortAttempts : 1;
    std::string error;
    for (int i = 0; i < attempts; ++i) {
        int err = 0;
        std::unique_ptr<SimListener> v4 = SimListener::open(*this, "127.0.0.1", port, &error, &err);
        if (!v4)
            throwText(error);
        std::string error6;
        int err6 = 0;
        std::unique_ptr<SimListener> v6 = SimListener::open(*this, "::1", v4->port(), &error6, &err6);
        if (!v6 && err6 == EADDRINUSE) {
            error = error6;
            continue;  // taken on ::1 only; with a chosen port that ends the loop
        }
        // The discovery interface is in the record: the server must answer
        // there too, or a client on another host could never reach it.
        std::unique_ptr<SimListener> extra;
        const std::string& interface = options_.discoveryInterface;
        if (interface != "127.0.0.1" && interface != "::1") {
            extra = SimListener::open(*this, interface.c_str(), v4->port(), &error, &err);
            if (!extra && err == EADDRINUSE)
                continue;
            if (!extra)
                throwText(error);
        }
        port_ = v4->port();
        ipv6_ = v6 != nullptr;
        listeners_.push_back(std::move(v4));
        if (v6)
            listeners_.push_back(std::move(v6));
        else
            CO_WARNING("Serving IPv4 only: %s", error6.c_str());
        if (extra)
            listeners_.push_back(std::move(extra));
        for (const std::unique_ptr<SimListener>& l : listeners_)
            appContext().registerIOHandler(l.get());
        return;
    }
    throwText(error);
}

void SimServer::startDiscovery() {
    if (!options_.discovery || discovery_)
        return;
    discovery_ = std::make_unique<SimDiscovery>(options_, service_->daemonInfo());
    discovery_->start();
    SimDiscovery* discovery = discovery_.get();
    service_->setPeerSource([discovery] { return discovery->heard(); });
}

void SimServer::registerMethods() {
    for (const std::string& name : SimService::methodNames())
        registerMethod(
            Corvane::rcMethod(this, name.c_str(), &SimServer::methodCB, &Corvane::rcParamString::TYPE, kArgsDecl),
            true);
    const bool failLogin = options_.failures.count(Corvane::rcSysCalls::CALL_LOGIN) > 0;
    if (!options_.login || failLogin)
        unregisterMethod(Corvane::rcSysCalls::CALL_LOGIN);
    if (failLogin)
        registerMethod(Corvane::rcMethod(this, Corvane::rcSysCalls::CALL_LOGIN, &SimServer::failLoginCB,
                                         &Corvane::rcParamString::TYPE, kArgsDecl));
}

bool SimServer::methodCB(void*, const Corvane::rcMethod& method, const Corvane::rcParam::Array& args,
                         Corvane::rcParam&) {
    static_cast<SimServer*>(method.context())->arrive(method.name(), args[0].toString());
    return true;  // the reply goes out through answer()
}

bool SimServer::failLoginCB(void*, const Corvane::rcMethod& method, const Corvane::rcParam::Array&, Corvane::rcParam&) {
    const SimServer* self = static_cast<const SimServer*>(method.context());
    method.setErrorText(self->options_.failures.at(Corvane::rcSysCalls::CALL_LOGIN));
    return false;
}

void SimServer::logCall(const std::string& method, const std::string& args) {
    if (callLogFd_ < 0)
        return;
    std::string line = method + " ";
    for (char c : args)
        line += c == '\n' ? std::string("\\n") : std::string(1, c);
    line += '\n';
    // One write per line: tests read the log while the server runs.
    if (::write(callLogFd_, line.data(), line.size()) < 0)
        CO_WARNING("Could not write the call log: %s", std::strerror(errno));
}

void SimServer::arrive(const std::string& method, const std::string& args) {
    logCall(method, args);
    Client* client = currentClient();
    const bool wantsReply = client->waitingForReply();
    if (wantsReply) {
        // A client that sends a call while an earlier one is still delayed
        // has given up on it; its reply goes out first, as it is owed.
        for (size_t i = 0; i < pending_.size();) {
            if (pending_[i].client == client && pending_[i].wantsReply) {
                const Pending p = std::move(pending_[i]);
                pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(i));
                answer(p, true);
            } else {
                ++i;
            }
        }
    }
    const Pending p{Corvane::CoClock::monotonicMs() + options_.delayFor(method), client, wantsReply, method, args};
    if (options_.delayFor(method) > 0)
        pending_.push_back(p);
    else
        answer(p, false);
}

void SimServer::answer(const Pending& p, bool direct) {
    const bool gone = clientGone(p.client);
    if (listed(options_.closeOn, p.method)) {
        CO_NOTICE("Closing the connection on '%s' as asked", p.method.c_str());
        if (!gone)
            p.client->getDescriptor()->close();
        return;
    }
    Corvane::rcResult reply;
    const auto failure = options_.failures.find(p.method);
    if (failure != options_.failures.end()) {
        reply.set(Corvane::rcResult::kError, failure->second);
    } else {
        std::string text;
        const bool ok = service_->call(p.method, p.args, &text);
        reply.set(ok ? Corvane::rcResult::kOk : Corvane::rcResult::kError, text);
    }
    const bool garbage = listed(options_.garbageOn, p.method);
    if ((garbage || listed(options_.cutReplyOn, p.method)) && p.wantsReply && !gone) {
        // The method has run; what reaches the client is not its reply, and
        // the connection ends as a server's that failed mid-reply would.
        std::string line;
        if (garbage) {
            line = garbageLine();
        } else {
            reply.render(line);
            line.resize(line.size() / 2);
        }
        CO_NOTICE("Answering '%s' with %s as asked", p.method.c_str(), garbage ? "garbage" : "half its reply");
        p.client->send(line);
        if (!clientGone(p.client))
            p.client->getDescriptor()->close();
    } else if (p.wantsReply && !gone) {
        if (direct) {
            std::string line;
            reply.render(line);
            p.client->send(line);
        } else {
            delayedReturn(p.client, reply);
        }
    }
    if (service_->shutdownRequested())
        stop();
}

bool SimServer::listed(const std::vector<std::string>& methods, const std::string& method) {
    return std::find(methods.begin(), methods.end(), method) != methods.end();
}

std::string SimServer::garbageLine() {
    // Every byte value but the newline, in an order no reply starts with,
    // then the newline that ends a reply line.
    std::string line;
    for (int i = 255; i >= 0; --i)
        if (i != '\n')
            line.push_back(static_cast<char>(i));
    line.push_back('\n');
    return line;
}

bool SimServer::clientGone(Client* client) {
    if (!client)
        return true;
    const Corvane::CoIoDescriptor* d = client->getDescriptor();
    return !d || !d->isValid();
}

bool SimServer::newConnection(std::unique_ptr<Corvane::CoIoTcpDescriptor> client) {
    // The context is about to delete the clients whose connection ended.
    for (Pending& p : pending_) {
        if (clientGone(p.client))
            p.client = nullptr;
    }
    return Corvane::rcServerContext::newConnection(std::move(client));
}

void SimServer::fireDue() {
    const int64_t now = Corvane::CoClock::monotonicMs();
    for (size_t i = 0; i < pending_.size();) {
        if (pending_[i].dueMs > now) {
            ++i;
            continue;
        }
        const Pending p = std::move(pending_[i]);
        pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(i));
        answer(p, false);
    }
}

int SimServer::msToNextDue() const {
    if (pending_.empty())
        return -1;
    int64_t due = pending_.front().dueMs;
    for (const Pending& p : pending_)
        due = std::min(due, p.dueMs);
    const int64_t left = due - Corvane::CoClock::monotonicMs();
    return left <= 0 ? 0 : static_cast<int>(std::min<int64_t>(left, INT_MAX));
}

bool SimServer::run() {
    int failures = 0;
    while (!stopRequested_.load()) {
        if (appContext().callIOHandler(msToNextDue()) < 0) {
            // A wait that keeps failing would spin; give up instead.
            if (++failures >= 3) {
                CO_ERROR("Stopping: the dispatcher's wait keeps failing");
                return false;
            }
        } else {
            failures = 0;
        }
        fireDue();
    }
    return true;
}

void SimServer::stop() {
    stopRequested_.store(true);
    appContext().cancel();
}

}  // namespace CorvaneSim
