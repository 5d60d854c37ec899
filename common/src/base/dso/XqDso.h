// Internal to corvane_base.
// One shared library opened with the dynamic loader, closed again on
// destruction. Immutable once opened, so any thread may look symbols up.
// XQ_DSO_RLD_NOW (read once) asks for immediate binding instead of lazy;
// XQ_DSO_DEBUG writes loader failures to standard error.
#pragma once

#include <memory>
#include <string>

namespace Corvane {

class XqDso {
public:
    static constexpr const char* extension = ".so";

    // Opens path; isOpen() tells whether that worked.
    explicit XqDso(const char* path);
    ~XqDso();
    XqDso(const XqDso&) = delete;
    XqDso& operator=(const XqDso&) = delete;

    // Null when the library could not be opened.
    static std::unique_ptr<XqDso> create(const char* path);

    bool isOpen() const { return handle_ != nullptr; }
    const std::string& path() const { return path_; }

    // The library must be open. Null when the symbol is missing.
    void* getSymbol(const char* name) const;

private:
    void* handle_;
    const std::string path_;
};

}  // namespace Corvane
