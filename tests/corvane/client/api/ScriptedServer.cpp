#include "ScriptedServer.h"

namespace CorvaneTest {

namespace {
const Corvane::rcParam::Decl kArgsParam[] = {{&Corvane::rcParamString::TYPE, "args"}, {nullptr, nullptr}};
}

ScriptedServer::ScriptedServer() : context_(-1), port_(context_.getPort()), thread_(context_) {}

ScriptedServer::~ScriptedServer() = default;

void ScriptedServer::handle(const char* method, Handler handler) {
    bool known;
    const char* name;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        known = handlers_.count(method) != 0;
        handlers_[method] = std::move(handler);
        if (!known)
            names_.emplace_back(method);
        name = names_.back().c_str();
    }
    if (!known)
        context_.registerMethod(
            Corvane::rcMethod(this, name, &ScriptedServer::dispatch, &Corvane::rcParamString::TYPE, kArgsParam));
}

void ScriptedServer::answer(const char* method, const std::string& text, bool ok) {
    handle(method, [text, ok](const std::string&, std::string& out) {
        out = text;
        return ok;
    });
}

std::vector<ScriptedServer::Call> ScriptedServer::calls() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return calls_;
}

std::vector<std::string> ScriptedServer::argsOf(const char* method) const {
    std::vector<std::string> args;
    for (const Call& call : calls())
        if (call.method == method)
            args.push_back(call.args);
    return args;
}

std::string ScriptedServer::lastArgs(const char* method) const {
    const std::vector<std::string> args = argsOf(method);
    return args.empty() ? "<no call>" : args.back();
}

bool ScriptedServer::dispatch(void*, const Corvane::rcMethod& method, const Corvane::rcParam::Array& args,
                              Corvane::rcParam& result) {
    ScriptedServer* self = static_cast<ScriptedServer*>(method.context());
    const std::string text = args.size() > 0 ? args[0].toString() : std::string();
    Handler handler;
    {
        std::lock_guard<std::mutex> guard(self->mutex_);
        self->calls_.push_back(Call{method.name(), text});
        handler = self->handlers_[method.name()];
    }
    std::string out;
    if (handler && handler(text, out)) {
        result.fromString(out);
        return true;
    }
    method.setErrorText(out);
    return false;
}

}  // namespace CorvaneTest
