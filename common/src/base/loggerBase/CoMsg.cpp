#include "base/loggerBase/CoMsg.h"

#include <execinfo.h>

#include <atomic>
#include <cassert>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "base/env/EnvVar.h"
#include "base/time/CoClock.h"

namespace Corvane {

namespace {

constexpr size_t kTextSize = 2048;      // 2047 characters of message text
constexpr size_t kLongLineSize = 2175;  // one verbose line
constexpr int kLevelNotRead = -1000;

// Written at start-up or configuration time, read by any thread.
std::atomic<int> gLevel{kLevelNotRead};
std::atomic<bool> gEnableFamily{false};
std::atomic<CoMsg::Router*> gRouter{nullptr};

int defaultPid() { return 0; }
std::atomic<int (*)()> gPidCallback{&defaultPid};

void onLevelVarChange(void*);

EnvVar<std::string> gLevelVar("XQ_MSG_LEVEL", "", &onLevelVarChange, nullptr);
RegEnvVar<std::string> gLevelReg(__FILE__, gLevelVar);
EnvVar<bool> gVerboseVar("XQ_MSG_VERBOSE", false);
RegEnvVar<bool> gVerboseReg(__FILE__, gVerboseVar);

int levelFromVariable() {
    if (gLevelVar.isDefault())
        return CoMsg::notice;
    return CoMsg::levelFromString(gLevelVar.getValue());
}

void onLevelVarChange(void*) { gLevel.store(levelFromVariable()); }

// Read both settings before main, so that they are registered and fixed
// before any thread posts.
struct ReadAtStartUp {
    ReadAtStartUp() {
        CoMsg::getLevel();
        CoMsg::getVerbose();
    }
} gReadAtStartUp;

const char* lastComponent(const char* path) {
    if (!path)
        return "";
    const char* end = path + std::strlen(path);
    if (end > path && end[-1] == '/')
        --end;  // a trailing slash is ignored
    const char* p = end;
    while (p > path && p[-1] != '/')
        --p;
    return p;
}

int trimmedLength(const char* text) {
    size_t n = std::strlen(text);
    while (n > 0 && std::isspace(static_cast<unsigned char>(text[n - 1])))
        --n;
    return static_cast<int>(n);
}

class DefaultRouter : public CoMsg::Router {
public:
    void route(const CoMsg::Record& record) override {
        char line[kLongLineSize];
        CoMsg::formatRecord(record, line, sizeof line);
        std::fputs(line, stdout);
    }
};

void post(CoMsg::Level level, const char* file, int line, const char* family, const char* fmt, va_list args) {
    assert(fmt != 0 && "fmt != 0");
    if (CoMsg::getLevel() < level)
        return;
    char text[kTextSize];
    std::vsnprintf(text, sizeof text, fmt, args);
    // The file name is cut into a copy: `file` may be a full path.
    const char* base = lastComponent(file);
    char fileName[256];
    size_t len = std::strlen(base);
    if (len > 0 && base[len - 1] == '/')
        --len;
    if (len >= sizeof fileName)
        len = sizeof fileName - 1;
    std::memcpy(fileName, base, len);
    fileName[len] = '\0';

    const int64_t nowUs = CoClock::wallUs();
    CoMsg::Record record{text,
                         fileName,
                         family ? family : "",
                         static_cast<uint32_t>(CoMsg::getPID()),
                         line,
                         level,
                         static_cast<time_t>(nowUs / 1000000),
                         static_cast<int>(nowUs % 1000000) * 1000};
    CoMsg::getRouter()->route(record);
}

}  // namespace

void CoMsg::formatRecord(const Record& record, char* out, size_t size) {
    const int textLength = trimmedLength(record.text);
    if (!getVerbose() || record.line <= 0) {
        std::snprintf(out, size, "%.*s\n", textLength, record.text);
        return;
    }
    tm local;
    const time_t seconds = record.seconds;
    localtime_r(&seconds, &local);
    char date[32], clock[32];
    std::strftime(date, sizeof date, "%D", &local);
    std::strftime(clock, sizeof clock, "%T", &local);
    const int millis = record.nanoseconds / 1000000;
    if (familyEnabled())
        std::snprintf(out, size, "[%s] [%s] %u %s:%d %s:%s.%.3d %.*s\n", levelToString(record.level), record.family,
                      record.pid, record.file, record.line, date, clock, millis, textLength, record.text);
    else
        std::snprintf(out, size, "[%s] %u %s:%d %s:%s.%.3d %.*s\n", levelToString(record.level), record.pid,
                      record.file, record.line, date, clock, millis, textLength, record.text);
}

void CoMsg::postDebug(const char* file, int line, const char* family, const char* fmt, va_list args) {
    post(debugging, file, line, family, fmt, args);
}
void CoMsg::postNotice(const char* file, int line, const char* family, const char* fmt, va_list args) {
    post(notice, file, line, family, fmt, args);
}
void CoMsg::postWarning(const char* file, int line, const char* family, const char* fmt, va_list args) {
    post(warning, file, line, family, fmt, args);
}
void CoMsg::postError(const char* file, int line, const char* family, const char* fmt, va_list args) {
    post(error, file, line, family, fmt, args);
}
void CoMsg::postUser(const char* file, int line, const char* family, const char* fmt, va_list args) {
    post(user, file, line, family, fmt, args);
}

void CoMsg::postShell(const char*, int, const char* family, const char* fmt, va_list args) {
    assert(fmt != 0 && "fmt != 0");
    if (familyEnabled())
        std::printf("%s ", family ? family : "");
    std::vprintf(fmt, args);
    std::fputs("\n", stdout);
}

void CoMsg::postShell(const char* file, int line, const char* family, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    postShell(file, line, family, fmt, args);
    va_end(args);
}

CoMsg::Router* CoMsg::getSetRouter(const Router* r) {
    // Created on first use and never freed: threads and static destructors
    // may still post while the process exits.
    static Router* const defaultRouter = new DefaultRouter;
    const uintptr_t sentinel = reinterpret_cast<uintptr_t>(r);
    Router* result = nullptr;
    if (sentinel == 0) {
        result = gRouter.load();
        if (!result)
            result = defaultRouter;
    } else if (sentinel == 1) {
        result = defaultRouter;
    } else if (sentinel == 2) {
        gRouter.store(defaultRouter);
        result = defaultRouter;
    } else {
        result = const_cast<Router*>(r);
        gRouter.store(result);
    }
    assert(result && "router");
    return result;
}

CoMsg::Router* CoMsg::setRouter(Router* r) {
    return getSetRouter(r ? r : reinterpret_cast<const Router*>(uintptr_t{2}));
}

CoMsg::Router* CoMsg::getDefaultRouter() { return getSetRouter(reinterpret_cast<const Router*>(uintptr_t{1})); }

int CoMsg::getSetPIDCallback(int (*cb)()) {
    if (cb)
        gPidCallback.store(cb);
    return gPidCallback.load()();
}

int (*CoMsg::pidCallback())() { return gPidCallback.load(); }

void CoMsg::enableFamily(bool on) { gEnableFamily.store(on); }
bool CoMsg::familyEnabled() { return gEnableFamily.load(); }

int CoMsg::getLevel() {
    int level = gLevel.load(std::memory_order_relaxed);
    if (level == kLevelNotRead) {
        level = levelFromVariable();
        gLevel.store(level);
    }
    return level;
}

void CoMsg::setLevel(int level) { gLevel.store(level); }

void CoMsg::setDefaultLevel(int level) {
    if (gLevelVar.isDefault())
        gLevel.store(level);
}

bool CoMsg::getVerbose() { return gVerboseVar.getValue(); }
void CoMsg::setVerbose(bool on) { gVerboseVar.setValue(on); }

int CoMsg::levelFromString(const char* name) {
    if (!name)
        return -1;
    static const struct {
        const char* name;
        int level;
    } kNames[] = {{USER_LEVEL_STRING, user},
                  {ERROR_LEVEL_STRING, error},
                  {DEBUGGING_LEVEL_STRING, debugging},
                  {NOTICE_LEVEL_STRING, notice},
                  {WARNING_LEVEL_STRING, warning}};
    for (const auto& entry : kNames)
        if (std::strcmp(name, entry.name) == 0)
            return entry.level;
    return -1;
}

const char* CoMsg::levelToString(int level) {
    switch (level) {
        case user:
            return USER_LEVEL_STRING;
        case error:
            return ERROR_LEVEL_STRING;
        case warning:
            return WARNING_LEVEL_STRING;
        case notice:
            return NOTICE_LEVEL_STRING;
        case debugging:
            return DEBUGGING_LEVEL_STRING;
        default:
            return UNKNOWN_LEVEL_STRING;
    }
}

void CoStackDump(int maxFrames) {
    if (maxFrames <= 0)
        return;
    void* frames[256];
    const int wanted = maxFrames < 256 ? maxFrames : 256;
    const int got = backtrace(frames, wanted);
    char** symbols = backtrace_symbols(frames, got);
    std::fputs("-------------- STACK BEGIN-----------------------------------------\n", stderr);
    std::printf("Obtained %d stack frames.\n", got);
    for (int i = 0; symbols && i < got; ++i)
        std::puts(symbols[i]);
    std::fputs("-------------- STACK END ------------------------------------------\n", stderr);
    std::free(symbols);
}

}  // namespace Corvane
