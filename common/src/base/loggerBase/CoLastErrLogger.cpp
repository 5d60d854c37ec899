#include "base/loggerBase/CoLastErrLogger.h"

#include <cassert>
#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "base/loggerBase/CoMsg.h"
#include "base/time/CoClock.h"

namespace Corvane {

const CoLastErrLogger& CoLastErrLogger::setLocation(const char* file, int line) const {
    file_ = file ? file : "";
    line_ = line;
    return *this;
}

void CoLastErrLogger::postError(const char* fmt, ...) const {
    assert(fmt && "fmt");
    char text[2048];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    lastError_ = text;
    if (silent_)
        return;
    const int64_t nowUs = CoClock::wallUs();
    const size_t slash = file_.find_last_of('/');
    const std::string file = slash == std::string::npos ? file_ : file_.substr(slash + 1);
    CoMsg::Record record{text,
                         file.c_str(),
                         "",
                         static_cast<uint32_t>(CoMsg::getPID()),
                         line_,
                         CoMsg::error,
                         static_cast<time_t>(nowUs / 1000000),
                         static_cast<int>(nowUs % 1000000) * 1000};
    CoMsg::getRouter()->route(record);
}

}  // namespace Corvane
