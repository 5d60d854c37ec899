#include "StatusModes.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "CgiRequest.h"
#include "CoXmlWriter.h"
#include "RequestLog.h"

namespace {

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

std::string element(const std::string& name, const std::string& text) {
    return "<" + name + ">" + CoXmlWriter::escape(text) + "</" + name + ">";
}

std::string named(const char* tag, const std::string& attribute, const std::string& value, uint64_t count) {
    return std::string("<") + tag + " " + attribute + "=\"" + CoXmlWriter::escape(value) + "\">" +
           std::to_string(count) + "</" + tag + ">";
}

// A metrics label value: backslash, double quote and newline escaped.
std::string label(const std::string& value) {
    std::string out;
    for (const char c : value) {
        if (c == '\\' || c == '"')
            out.push_back('\\');
        if (c == '\n')
            out += "\\n";
        else
            out.push_back(c);
    }
    return out;
}

// The metrics text, one family after another.
class Metrics {
public:
    void family(const char* name, const char* type, const char* help) {
        name_ = std::string("corvane_gateway_") + name;
        text_ += "# HELP " + name_ + " " + help + "\n# TYPE " + name_ + " " + type + "\n";
    }
    void sample(const std::string& labels, const std::string& value, const char* suffix = "") {
        text_ += name_ + suffix + (labels.empty() ? "" : "{" + labels + "}") + " " + value + "\n";
    }
    const std::string& text() const { return text_; }

private:
    std::string name_;
    std::string text_;
};

const std::vector<GatewayStatus::Outcome>& allOutcomes() {
    using O = GatewayStatus::Outcome;
    static const std::vector<O> outcomes{O::Success,    O::Error,      O::Refused401,
                                         O::Refused403, O::Refused405, O::Refused503};
    return outcomes;
}

uint64_t countOf(const std::map<GatewayStatus::Outcome, uint64_t>& counts, GatewayStatus::Outcome outcome) {
    const auto found = counts.find(outcome);
    return found == counts.end() ? 0 : found->second;
}

}  // namespace

std::string ping(const ModeContext&) { return "pong"; }

std::string status(const ModeContext& context) {
    const GatewayStatus::Snapshot figures = GatewayStatus::instance().snapshot();
    return wantsMetricsText(context.request) ? statusMetrics(figures) : statusXml(figures);
}

bool wantsMetricsText(const CgiRequest& request) {
    return strcasecmp(request.get("mode").c_str(), "status") == 0 && request.get("format") == "prometheus";
}

std::string statusXml(const GatewayStatus::Snapshot& figures) {
    const int64_t busy = figures.inFlight;
    std::string xml = "<status>" + element("started", logTime(figures.started)) +
                      element("uptimeSeconds", number(figures.uptimeSeconds)) + "<requests>" +
                      element("accepted", std::to_string(figures.accepted)) +
                      element("inFlight", std::to_string(figures.inFlight));
    for (const auto& mode : figures.byMode)
        xml += named("mode", "name", mode.first, mode.second);
    for (const GatewayStatus::Outcome outcome : allOutcomes())
        xml += named("outcome", "name", GatewayStatus::outcomeName(outcome), countOf(figures.byOutcome, outcome));
    xml += element("slow", std::to_string(figures.slow)) + "</requests><threads>" +
           element("idle", std::to_string(std::max<int64_t>(0, figures.threads - busy))) +
           element("busy", std::to_string(busy)) + element("maxBusy", std::to_string(figures.maxBusy)) +
           "</threads>" + element("streams", std::to_string(figures.streams)) + "<servers>";
    const std::vector<int64_t>& bounds = GatewayStatus::latencyBoundsMs();
    for (const auto& entry : figures.servers) {
        const GatewayStatus::Server& server = entry.second;
        xml += "<server host=\"" + CoXmlWriter::escape(entry.first) + "\">" +
               element("openHandles", std::to_string(server.open)) +
               element("connections", server.connected ? "1" : "0") + element("calls", std::to_string(server.calls)) +
               element("failures", std::to_string(server.failures)) + element("lastError", server.lastError) +
               "<latency>";
        for (size_t i = 0; i < server.buckets.size(); ++i)
            xml += named("bucket", "leMs", i < bounds.size() ? std::to_string(bounds[i]) : "inf", server.buckets[i]);
        xml += element("sumSeconds", number(server.sumSeconds)) + "</latency></server>";
    }
    return xml + "</servers></status>";
}

std::string statusMetrics(const GatewayStatus::Snapshot& figures) {
    Metrics out;
    const double started = std::chrono::duration<double>(figures.started.time_since_epoch()).count();
    struct Single {
        const char* name;
        const char* type;
        const char* help;
        std::string value;
    };
    const Single singles[] = {
        {"start_time_seconds", "gauge", "When the process started, in seconds since the epoch.", number(started)},
        {"uptime_seconds", "gauge", "Seconds since the process started.", number(figures.uptimeSeconds)},
        {"requests_accepted_total", "counter", "Requests taken.", std::to_string(figures.accepted)},
        {"requests_in_flight", "gauge", "Requests being served.", std::to_string(figures.inFlight)},
    };
    for (const Single& single : singles) {
        out.family(single.name, single.type, single.help);
        out.sample("", single.value);
    }
    out.family("requests_by_mode_total", "counter", "Finished requests by mode.");
    for (const auto& mode : figures.byMode)
        out.sample("mode=\"" + label(mode.first) + "\"", std::to_string(mode.second));
    out.family("requests_by_outcome_total", "counter", "Finished requests by outcome.");
    for (const GatewayStatus::Outcome outcome : allOutcomes())
        out.sample("outcome=\"" + std::string(GatewayStatus::outcomeName(outcome)) + "\"",
                   std::to_string(countOf(figures.byOutcome, outcome)));
    out.family("slow_requests_total", "counter", "Requests slower than CORVANE_SLOW_REQUEST_MS.");
    out.sample("", std::to_string(figures.slow));
    out.family("threads", "gauge", "Request threads by state.");
    out.sample("state=\"idle\"", std::to_string(std::max<int64_t>(0, figures.threads - figures.inFlight)));
    out.sample("state=\"busy\"", std::to_string(figures.inFlight));
    out.family("threads_max_busy", "gauge", "The most request threads ever busy at once.");
    out.sample("", std::to_string(figures.maxBusy));
    out.family("live_streams", "gauge", "Live-update streams open now.");
    out.sample("", std::to_string(figures.streams));

    using Server = GatewayStatus::Server;
    struct PerServer {
        const char* name;
        const char* type;
        const char* help;
        std::string (*value)(const Server&);
    };
    const PerServer perServer[] = {
        {"server_open_handles", "gauge", "Server handles open now.",
         [](const Server& s) { return std::to_string(s.open); }},
        {"server_connections", "gauge", "Open connections to the server, as last seen.",
         [](const Server& s) { return std::string(s.connected ? "1" : "0"); }},
        {"server_calls_total", "counter", "Server operations.", [](const Server& s) { return std::to_string(s.calls); }},
        {"server_failures_total", "counter", "Failed server operations.",
         [](const Server& s) { return std::to_string(s.failures); }},
    };
    for (const PerServer& family : perServer) {
        out.family(family.name, family.type, family.help);
        for (const auto& server : figures.servers)
            out.sample("server=\"" + label(server.first) + "\"", family.value(server.second));
    }
    out.family("server_last_error_info", "gauge", "The server's last error, in its label.");
    for (const auto& server : figures.servers)
        if (!server.second.lastError.empty())
            out.sample("server=\"" + label(server.first) + "\",error=\"" + label(server.second.lastError) + "\"", "1");
    out.family("server_call_seconds", "histogram", "Server operation latency.");
    const std::vector<int64_t>& bounds = GatewayStatus::latencyBoundsMs();
    for (const auto& server : figures.servers) {
        const std::string name = "server=\"" + label(server.first) + "\"";
        uint64_t cumulative = 0;
        for (size_t i = 0; i < server.second.buckets.size(); ++i) {
            cumulative += server.second.buckets[i];
            const std::string le = i < bounds.size() ? number(static_cast<double>(bounds[i]) / 1000) : "+Inf";
            out.sample(name + ",le=\"" + le + "\"", std::to_string(cumulative), "_bucket");
        }
        out.sample(name, number(server.second.sumSeconds), "_sum");
        out.sample(name, std::to_string(server.second.calls), "_count");
    }
    return out.text();
}
