// Test stand-ins for the client tests: a server context on a loopback port,
// served by its own thread, whose methods record the argument text of every
// call and answer with a scripted reply or error.
#pragma once

#include <deque>
#include <functional>
#include <initializer_list>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "base/rcApi/rcAttrStream.h"
#include "base/rcApi/rcServerContext.h"
#include "common/base/rcApi/ServerThread.h"

namespace CorvaneTest {

// An attribute stream in the order given, as scripts reply and the client
// sends; a number goes as its decimal text, as addIntValue writes it.
inline std::string attrs(std::initializer_list<std::pair<const char*, std::string>> items) {
    Corvane::rcAttrStream stream;
    for (const auto& item : items)
        stream.addStringValue(item.first, item.second.c_str());
    return stream.str();
}

class ScriptedServer {
public:
    // Fills out and returns true for an "ok" reply, or returns false with
    // the error text in out. Runs on the server's thread.
    typedef std::function<bool(const std::string& args, std::string& out)> Handler;

    struct Call {
        std::string method;
        std::string args;
    };

    ScriptedServer();
    // Every handler must have returned (open their gates first).
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    int port() const { return port_; }

    void handle(const char* method, Handler handler);
    // Answers every call of method with "ok" and reply.
    void reply(const char* method, const std::string& reply) { answer(method, reply, true); }
    // Answers every call of method with "error" and text.
    void fail(const char* method, const std::string& text) { answer(method, text, false); }

    // Every call so far, in order ("_login" and "_ping" are not recorded).
    std::vector<Call> calls() const;
    std::vector<std::string> argsOf(const char* method) const;
    std::string lastArgs(const char* method) const;

private:
    void answer(const char* method, const std::string& text, bool ok);
    static bool dispatch(void* object, const Corvane::rcMethod& method, const Corvane::rcParam::Array& args,
                         Corvane::rcParam& result);

    Corvane::rcServerContext context_;
    int port_;
    mutable std::mutex mutex_;  // guards the three below
    std::map<std::string, Handler> handlers_;
    std::deque<std::string> names_;  // registered method names; rcMethod keeps pointers
    std::vector<Call> calls_;
    ServerThread thread_;  // last: stops before the members its methods use go
};

}  // namespace CorvaneTest
