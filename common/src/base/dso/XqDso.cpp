#include "base/dso/XqDso.h"

#include <dlfcn.h>

#include <cassert>
#include <cstdio>
#include <cstdlib>

namespace Corvane {

namespace {

int bindingFlags() {
    static const int flags = std::getenv("XQ_DSO_RLD_NOW") ? RTLD_NOW : RTLD_LAZY;
    return flags;
}

// Looked up per failure: failures are rare and the switch may be set late.
void reportLoaderError(const char* format) {
    if (!std::getenv("XQ_DSO_DEBUG"))
        return;
    const char* text = dlerror();
    std::fprintf(stderr, format, text ? text : "unknown error");
}

}  // namespace

XqDso::XqDso(const char* path) : handle_(dlopen(path, bindingFlags())), path_(path ? path : "") {
    if (!handle_)
        reportLoaderError("DSO Error: %s\n");
}

XqDso::~XqDso() {
    if (handle_)
        dlclose(handle_);
}

std::unique_ptr<XqDso> XqDso::create(const char* path) {
    auto dso = std::make_unique<XqDso>(path);
    if (!dso->isOpen())
        dso.reset();
    return dso;
}

void* XqDso::getSymbol(const char* name) const {
    assert(handle_);
    dlerror();  // a stale error would make a found null symbol look missing
    void* address = dlsym(handle_, name);
    if (!address)
        reportLoaderError("DSO Symbol Error: %s\n");
    return address;
}

}  // namespace Corvane
