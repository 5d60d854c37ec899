// Leveled message poster: turns a printf-style call into one Record and hands
// it to the installed Router (by default one line on standard output).
// Process-wide state (level, router, pid callback) is set at start-up or
// configuration time and read by any thread without a lock.
#pragma once

#include <sys/time.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>

namespace Corvane {

constexpr const char* USER_LEVEL_STRING = "user";
constexpr const char* ERROR_LEVEL_STRING = "error";
constexpr const char* WARNING_LEVEL_STRING = "warn";
constexpr const char* NOTICE_LEVEL_STRING = "notice";
constexpr const char* DEBUGGING_LEVEL_STRING = "debug";
constexpr const char* UNKNOWN_LEVEL_STRING = "unknown";

class CoMsg {
public:
    // Signed: -1 is a legal current level and silences everything.
    enum Level : int { user = 0, error = 1, warning = 2, notice = 3, debugging = 4 };

    // One posted message. Built on the poster's stack; valid only during route().
    struct Record {
        const char* text;    // formatted, at most 2047 characters
        const char* file;    // last path component of the source file
        const char* family;  // "" when none was given
        uint32_t pid;        // from the pid callback
        int line;
        Level level;
        time_t seconds;   // since the epoch
        int nanoseconds;  // microseconds * 1000
    };

    class Router {
    public:
        virtual ~Router() = default;
        virtual void route(const Record& record) = 0;
    };

    typedef void (*PostFn)(const char* file, int line, const char* family, const char* fmt, va_list args);

    static void postDebug(const char* file, int line, const char* family, const char* fmt, va_list args);
    static void postNotice(const char* file, int line, const char* family, const char* fmt, va_list args);
    static void postWarning(const char* file, int line, const char* family, const char* fmt, va_list args);
    static void postError(const char* file, int line, const char* family, const char* fmt, va_list args);
    static void postUser(const char* file, int line, const char* family, const char* fmt, va_list args);

    // Unconditional: no level test, no router.
    static void postShell(const char* file, int line, const char* family, const char* fmt, va_list args);
    static void postShell(const char* file, int line, const char* family, const char* fmt, ...)
        __attribute__((format(printf, 4, 5)));

    // r == nullptr: the installed router (or the default one); r == 1: the
    // default router; r == 2: reinstall the default router; else install r.
    static Router* getSetRouter(const Router* r);
    static Router* getRouter() { return getSetRouter(nullptr); }
    static Router* setRouter(Router* r);  // nullptr resets to the default
    static Router* getDefaultRouter();

    // A non-null cb replaces the callback; the (new or current) callback's
    // result is returned in every case.
    static int getSetPIDCallback(int (*cb)());
    static int setPIDCallback(int (*cb)()) { return getSetPIDCallback(cb); }
    static int getPID() { return getSetPIDCallback(nullptr); }
    // The installed callback itself, so that it can be put back later.
    static int (*pidCallback())();

    static void enableFamily(bool on);
    static bool familyEnabled();

    static int getLevel();
    static void setLevel(int level);
    // Stores level only while XQ_MSG_LEVEL is unset or empty.
    static void setDefaultLevel(int level);

    static bool getVerbose();
    static void setVerbose(bool on);

    static int levelFromString(const char* name);
    static const char* levelToString(int level);

    // Formats the record the way the default router writes it.
    static void formatRecord(const Record& record, char* out, size_t size);
};

// Posts through one of the CoMsg::post functions with a captured location.
class CoMsgBuilderBase {
public:
    CoMsgBuilderBase(const char* file, int line, CoMsg::PostFn post) : file_(file), line_(line), post_(post) {}
    virtual ~CoMsgBuilderBase() = default;

protected:
    const char* file_;
    int line_;
    CoMsg::PostFn post_;
};

// Marks the first argument of a builder call as a family label rather than
// a format, so that the two call forms never get confused.
struct CoFamily {
    const char* name;
};

template <bool Unused = false>
class CoMsgBuilder : public CoMsgBuilderBase {
public:
    using CoMsgBuilderBase::CoMsgBuilderBase;

    void operator()(const char* fmt, ...) const __attribute__((format(printf, 2, 3))) {
        va_list args;
        va_start(args, fmt);
        post_(file_, line_, "-", fmt, args);
        va_end(args);
    }
    void operator()(CoFamily family, const char* fmt, ...) const __attribute__((format(printf, 3, 4))) {
        va_list args;
        va_start(args, fmt);
        post_(file_, line_, family.name, fmt, args);
        va_end(args);
    }
};

// Prints the current call stack (at most maxFrames frames) for diagnostics.
void CoStackDump(int maxFrames);

}  // namespace Corvane

#define CO_DEBUG Corvane::CoMsgBuilder<false>(__FILE__, __LINE__, &Corvane::CoMsg::postDebug)
#define CO_NOTICE Corvane::CoMsgBuilder<false>(__FILE__, __LINE__, &Corvane::CoMsg::postNotice)
#define CO_WARNING Corvane::CoMsgBuilder<false>(__FILE__, __LINE__, &Corvane::CoMsg::postWarning)
#define CO_ERROR Corvane::CoMsgBuilder<false>(__FILE__, __LINE__, &Corvane::CoMsg::postError)
#define CO_USER Corvane::CoMsgBuilder<false>(__FILE__, __LINE__, &Corvane::CoMsg::postUser)
