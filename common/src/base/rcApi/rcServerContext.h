// The server side of the RPC protocol: listens on a port (or the first free
// port of a range), accepts clients, parses their command lines, dispatches
// each command to a registered method on a registered object and writes the
// reply, at once or later for methods marked for delayed return. Serves the
// built-in "_login" (checks the client's connection information, then asks
// authenticate()) and "_ping".
//
// Design note. All I/O runs on the thread that drives appContext()'s
// dispatch passes; the context registers itself there at construction and
// each accepted client after it. Clients are owned here. A client whose
// connection ends is unregistered and closed at once but deleted only at
// the next accept or at destruction, because the pass that noticed the end
// may still hold its pointer. The method and object tables may be changed
// from other threads: tablesMutex_ guards them and is never held while a
// method runs or while I/O is done. delayedReturn() must be called on the
// dispatching thread, and the context destroyed only after that thread has
// stopped dispatching.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/rcApi/rcAppContext.h"
#include "base/rcApi/rcCommand.h"
#include "base/rcApi/rcConnectionInfo.h"
#include "base/rcApi/rcMethod.h"
#include "base/rcApi/rcResult.h"
#include "base/tcp/CoIoTcpServerHandler.h"
#include "base/threads/CoMutex.h"

namespace Corvane {

class rcServerContext : public CoIoTcpServerHandler {
public:
    // One connected client: its connection, the command being parsed, its
    // login record and whether it waits for a delayed reply.
    class Client : public CoIoHandler {
    public:
        Client(rcServerContext& server, std::unique_ptr<CoIoTcpDescriptor> descriptor);
        ~Client() override;

        const CoIoDescriptor* getDescriptor() const override;
        CoIoDescriptor* getDescriptor() override;
        bool handleReadable() override;
        bool descriptorLost() override;

        // The record of a successful "_login"; null before.
        const rcConnectionInfo* login() const { return login_.get(); }
        bool waitingForReply() const { return waitingForReply_; }
        // Writes a rendered reply line within the reply time-out; on failure
        // closes the connection and returns false. Dispatching thread only.
        bool send(const std::string& text);

    private:
        friend class rcServerContext;

        void close();

        rcServerContext& server_;
        std::unique_ptr<CoIoTcpDescriptor> descriptor_;
        rcCommand command_;
        size_t commandBytes_ = 0;
        std::unique_ptr<rcConnectionInfo> login_;
        bool waitingForReply_ = false;
    };

    // By default, a command line longer than this ends the client's
    // connection: it is not a client of ours, and its line would otherwise
    // grow without end.
    static constexpr size_t kMaxCommandBytes = 64u * 1024 * 1024;
    // A client that takes no reply bytes for this long is dropped, so that
    // one stuck peer cannot stall the dispatching thread.
    static constexpr int kReplyTimeoutMs = 10000;

    // Listens on the first free port of [portMin, portMax]; throws
    // CoException when there is none.
    rcServerContext(int portMin, int portMax);
    // Listens on port, or on a port the system picks when port is -1;
    // throws CoException when that fails.
    explicit rcServerContext(int port);
    ~rcServerContext() override;

    int getPort() const { return server().getPort(); }
    // A context that only ever receives short commands bounds them tighter.
    // Set before the first client connects.
    void setMaxCommandBytes(size_t bytes) { maxCommandBytes_ = bytes; }
    size_t maxCommandBytes() const { return maxCommandBytes_; }
    rcAppContext& appContext() { return appContext_; }

    // A method name already registered is refused (and posted).
    bool registerMethod(const rcMethod& method, bool delayedReturn = false);
    bool unregisterMethod(const char* name);
    // Id 0 is reserved (no object); an id already registered is refused.
    bool registerObject(int id, void* object);
    bool unregisterObject(int id);

    // Runs one parsed command of client and writes its reply.
    void processCommand(rcCommand& cmd, Client* client);
    // Sends the reply of a delayed-return method to a client waiting for
    // it. False (and posted) when the client is gone or not waiting, or the
    // write failed.
    bool delayedReturn(Client* client, const rcResult& reply);
    // The client whose command is being processed; null between commands.
    Client* currentClient() const { return currentClient_; }
    size_t clientCount() const { return clients_.size(); }

    // Decides whether a client that logged in with a valid record may stay.
    // This one accepts everyone.
    virtual bool authenticate(const rcConnectionInfo& info);

    bool newConnection(std::unique_ptr<CoIoTcpDescriptor> client) override;

private:
    struct MethodEntry {
        rcMethod method;
        bool delayedReturn;
    };

    void registerBuiltIns();
    // Moves a client whose connection ended to retired_.
    void retire(Client* client);
    bool isLive(const Client* client) const;
    static bool loginCB(void* object, const rcMethod& method, const rcParam::Array& args, rcParam& result);
    static bool pingCB(void* object, const rcMethod& method, const rcParam::Array& args, rcParam& result);

    rcAppContext appContext_;
    mutable CoMutex tablesMutex_;                              // guards methods_ and objects_
    std::map<std::string, MethodEntry, std::less<>> methods_;  // found by const char*
    std::map<int, void*> objects_;

    // Dispatching thread only.
    std::vector<std::unique_ptr<Client>> clients_;
    std::vector<std::unique_ptr<Client>> retired_;
    Client* currentClient_ = nullptr;
    rcResult reply_;
    std::string replyText_;
    std::vector<char> readBuffer_;
    size_t maxCommandBytes_ = kMaxCommandBytes;
};

}  // namespace Corvane
