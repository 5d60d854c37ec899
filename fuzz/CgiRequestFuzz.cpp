// Any bytes as one CGI request, delivered the way a web server delivers it:
// arguments, environment and a POST body on standard input.
//
// Framing: byte 0 says which of the five variables are set (one bit each),
// byte 1 how many arguments follow (modulo 8); then the five values and the
// arguments, each ended by a NUL (neither can hold one); the rest, NULs
// included, is the body.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "CgiRequest.h"
#include "FuzzQuiet.h"

extern char** environ;

namespace {

const char* const kVariables[] = {"REQUEST_METHOD", "QUERY_STRING", "CONTENT_TYPE", "CONTENT_LENGTH", "REMOTE_USER"};
constexpr size_t kVariableCount = sizeof kVariables / sizeof kVariables[0];

// Cuts the next NUL-ended field; an input that ends first gives what is left.
std::string nextField(const uint8_t*& p, const uint8_t* end) {
    const uint8_t* start = p;
    while (p < end && *p)
        ++p;
    std::string field(reinterpret_cast<const char*>(start), static_cast<size_t>(p - start));
    if (p < end)
        ++p;
    return field;
}

// Standard input is a memory file that each run refills.
int bodyFile() {
    static const int fd = [] {
        const int memory = memfd_create("cgi-body", 0);
        if (memory < 0 || dup2(memory, STDIN_FILENO) < 0)
            __builtin_trap();
        return memory;
    }();
    return fd;
}

void setBody(const uint8_t* data, size_t size) {
    const int fd = bodyFile();
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
        __builtin_trap();
    std::rewind(stdin);  // drops what stdin buffered last run, and its end-of-file
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const uint8_t* p = data + 2;
    const uint8_t* const end = data + size;
    std::vector<std::string> variables;
    for (size_t i = 0; i < kVariableCount; ++i) {
        std::string value = nextField(p, end);
        if (data[0] & (1u << i))
            variables.push_back(std::string(kVariables[i]) + "=" + value);
    }
    std::vector<std::string> args;
    for (int i = 0; i < data[1] % 8; ++i)
        args.push_back(nextField(p, end));
    setBody(p, static_cast<size_t>(end - p));

    std::vector<char*> env;
    for (std::string& v : variables)
        env.push_back(&v[0]);
    env.push_back(nullptr);
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);

    // The request's complaints go to stderr by design; a sanitizer writes to
    // descriptor 2 directly and is still heard.
    static FILE* const sink = std::fopen("/dev/null", "w");
    FILE* const savedStderr = stderr;
    char** const savedEnviron = environ;
    stderr = sink;
    environ = env.data();
    {
        const CgiRequest request(static_cast<int>(args.size()), argv.data());
        for (const char* name : {"Mode", "host", "", "a"})
            (void)request.get(name);
        for (const std::string& a : args)
            (void)request.get(a.substr(0, a.find('=')));
        (void)CgiRequest::remoteUserName();
    }
    environ = savedEnviron;
    stderr = savedStderr;
    return 0;
}
