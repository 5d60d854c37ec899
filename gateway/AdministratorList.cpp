#include "AdministratorList.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

#include "AdministratorListModule.h"
#include "CgiRequest.h"
#include "XmlBounds.h"

namespace {

// The module's file, in CORVANE_MODULE_DIR relative to the program's own
// folder: the build tree lays its programs and the module out as an
// install does.
constexpr const char* kModuleName = "administrator-list.so";

// The module's path, or "" when the program's own path is unknown: a path
// relative to the working directory, which holds the users' documents,
// must never name code to load.
std::string modulePath() {
    char program[PATH_MAX];
    const ssize_t size = ::readlink("/proc/self/exe", program, sizeof program - 1);
    if (size <= 0)
        return "";
    const std::string path(program, static_cast<size_t>(size));
    return path.substr(0, path.rfind('/') + 1) + CORVANE_MODULE_DIR + "/" + kModuleName;
}

// Owns the module's handle: loaded on first use, kept until the process
// exits. Immutable once made; any thread.
class Module {
public:
    Module() : path_(modulePath()) {
        if (path_.empty()) {
            error_ = std::string("Could not load ") + kModuleName + ": the program's own path is unknown";
            return;
        }
        handle_ = ::dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle_) {
            error_ = "Could not load '" + path_ + "': " + ::dlerror();
            return;
        }
        read_ = reinterpret_cast<CorvaneReadAdministrators*>(::dlsym(handle_, kReadAdministratorsSymbol));
        if (!read_)
            error_ = std::string("Could not find ") + kReadAdministratorsSymbol + " in '" + path_ + "'";
    }
    ~Module() {
        if (handle_)
            ::dlclose(handle_);
    }
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    // The text of infoXml's administrators element; throws the failure's
    // message.
    std::string administrators(const std::string& infoXml) const {
        if (!read_)
            throw error_;
        std::string text;
        const int status = read_(
            infoXml.c_str(), [](void* context, const char* value) { *static_cast<std::string*>(context) = value; },
            &text);
        if (status == static_cast<int>(AdministratorsStatus::Missing))
            throw std::string("Invalid manager's metadata");
        if (status != static_cast<int>(AdministratorsStatus::Read))
            throw std::string("Parse manager's metadata failed");
        return text;
    }

private:
    const std::string path_;
    void* handle_ = nullptr;
    CorvaneReadAdministrators* read_ = nullptr;
    std::string error_;
};

const Module& module() {
    static const Module loaded;
    return loaded;
}

}  // namespace

bool isListedAdministrator(const std::string& infoXml, const std::string& user) {
    // Any user the server lets write the root's "info" may have stored it.
    if (!withinXmlBounds(infoXml))
        throw std::string("Parse manager's metadata failed");
    // Lists of any length are taken whole; nothing is cut.
    for (const std::string& name : CgiRequest::splitList(module().administrators(infoXml)))
        if (name == user)
            return true;
    return false;
}
