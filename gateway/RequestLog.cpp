#include "RequestLog.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "HttpOutput.h"
#include "RequestIo.h"
#include "base/env/EnvVar.h"
#include "base/loggerBase/CoMsg.h"

namespace {

constexpr int kDefaultSlowMs = 5000;

thread_local RequestLog* tCurrent = nullptr;
std::atomic<uint64_t> gRequests{0};

// "PID-": the process does not fork, so its id is asked once.
const std::string& processPrefix() {
    static const std::string prefix = std::to_string(::getpid()) + "-";
    return prefix;
}

// A text field of a log line: quoted, its quotes and backslashes escaped,
// then kept to one line as the error line is.
std::string quoted(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '"' || c == '\\')
            out.push_back('\\');
        out.push_back(c);
    }
    return "\"" + oneLine(out) + "\"";
}

class ErrorRouter : public Corvane::CoMsg::Router {
public:
    void route(const Corvane::CoMsg::Record& record) override {
        char line[4096];
        Corvane::CoMsg::formatRecord(record, line, sizeof line);
        if (RequestLog* log = RequestLog::current())
            log->message(line);
        else
            std::fputs(line, stderr);
    }
};

}  // namespace

RequestLog::RequestLog(RequestIo& io)
    : io_(io),
      started_(std::chrono::system_clock::now()),
      startedSteady_(std::chrono::steady_clock::now()),
      id_(processPrefix() + std::to_string(++gRequests)),
      phaseSince_(startedSteady_),
      previous_(tCurrent) {
    tCurrent = this;
    GatewayStatus::instance().requestStarted();
}

RequestLog::~RequestLog() {
    tCurrent = previous_;
    const auto now = std::chrono::steady_clock::now();
    spent_[static_cast<int>(phase_)] += now - phaseSince_;
    const int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - startedSteady_).count();
    const char* slowSetting = io_.setting("CORVANE_SLOW_REQUEST_MS");
    const int64_t slowMs = slowSetting ? Corvane::leadingDigits(slowSetting) : kDefaultSlowMs;
    const bool slow = ms > slowMs;
    GatewayStatus::instance().requestEnded(mode_, outcome_, slow);
    const std::string common = " " + logTime(started_) + " id=" + id_ + " user=" + quoted(user_) +
                               " mode=" + quoted(mode_) + " hosts=" + quoted(hosts_) + " ms=" + std::to_string(ms);
    if (Corvane::leadingDigits(io_.setting("CORVANE_ACCESS_LOG")) != 0)
        message(("corvane-gateway: access" + common + " outcome=" + GatewayStatus::outcomeName(outcome_) + "\n")
                    .c_str());
    if (slow) {
        const auto longest = std::max_element(std::begin(spent_), std::end(spent_)) - std::begin(spent_);
        message(("corvane-gateway: slow" + common + " phase=" + phaseName(static_cast<Phase>(longest)) + "\n")
                    .c_str());
    }
}

RequestLog* RequestLog::current() { return tCurrent; }

void RequestLog::enter(Phase phase) {
    if (tCurrent)
        tCurrent->changePhase(phase);
}

void RequestLog::changePhase(Phase phase) {
    const auto now = std::chrono::steady_clock::now();
    spent_[static_cast<int>(phase_)] += now - phaseSince_;
    phase_ = phase;
    phaseSince_ = now;
}

void RequestLog::message(const char* line) { io_.err(line); }

const char* RequestLog::phaseName(Phase phase) {
    switch (phase) {
    case Phase::Connect:
        return "connect";
    case Phase::Login:
        return "login";
    case Phase::Call:
        return "call";
    case Phase::Save:
        return "save";
    default:
        return "request";
    }
}

void routeMessagesToErrors() {
    static ErrorRouter router;
    static std::once_flag once;
    std::call_once(once, [] { Corvane::CoMsg::setRouter(&router); });
}

std::string logTime(std::chrono::system_clock::time_point time) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
    const time_t seconds = static_cast<time_t>(ms / 1000);
    tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    char out[48];
    std::snprintf(out, sizeof out, "%s.%03dZ", text, static_cast<int>(ms % 1000));
    return out;
}
