#include "RequestIo.h"

#include <cstdio>
#include <cstdlib>

const char* ProcessIo::variable(const char* name) const { return std::getenv(name); }

const char* ProcessIo::setting(const char* name) const { return std::getenv(name); }

size_t ProcessIo::readBody(char* buffer, size_t size) { return std::fread(buffer, 1, size, stdin); }

void ProcessIo::out(const char* data, size_t size) { std::fwrite(data, 1, size, stdout); }

void ProcessIo::err(const char* data, size_t size) { std::fwrite(data, 1, size, stderr); }
