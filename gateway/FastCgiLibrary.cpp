#include "FastCgiLibrary.h"

#include <dlfcn.h>

namespace {

// Owns the handle of the loaded library. dlopen finds the library by its
// soname, as the loader would have for a program linked with it, so that
// the package's dependency decides which file that is.
class LoadedLibrary {
public:
    LoadedLibrary() {
        // Mapped to the end: what libfcgi allocated at its start stays
        // reachable through its globals when the exit's leak check runs.
        handle_ = ::dlopen(CORVANE_FCGI_SONAME, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (!handle_) {
            error_ = std::string("Could not load " CORVANE_FCGI_SONAME ": ") + ::dlerror();
            return;
        }
        const bool found = find("FCGX_Init", &functions_.init) && find("FCGX_InitRequest", &functions_.initRequest) &&
                           find("FCGX_Accept_r", &functions_.accept) && find("FCGX_Finish_r", &functions_.finish) &&
                           find("FCGX_Free", &functions_.free) && find("FCGX_Detach", &functions_.detach) &&
                           find("FCGX_GetStr", &functions_.getStr) && find("FCGX_PutStr", &functions_.putStr) &&
                           find("FCGX_FClose", &functions_.close) && find("FCGX_FFlush", &functions_.flush);
        if (!found) {
            ::dlclose(handle_);
            handle_ = nullptr;
        }
    }
    ~LoadedLibrary() {
        if (handle_)
            ::dlclose(handle_);
    }
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;

    const FastCgiLibrary* functions() const { return handle_ ? &functions_ : nullptr; }
    const std::string& error() const { return error_; }

private:
    template <typename Function>
    bool find(const char* name, Function* function) {
        void* symbol = ::dlsym(handle_, name);
        if (!symbol) {
            error_ = std::string("Could not find ") + name + " in " CORVANE_FCGI_SONAME;
            return false;
        }
        *function = reinterpret_cast<Function>(symbol);
        return true;
    }

    void* handle_ = nullptr;
    FastCgiLibrary functions_{};
    std::string error_;
};

}  // namespace

const FastCgiLibrary* fastCgiLibrary(std::string* error) {
    static const LoadedLibrary library;
    const FastCgiLibrary* functions = library.functions();
    if (!functions && error)
        *error = library.error();
    return functions;
}
