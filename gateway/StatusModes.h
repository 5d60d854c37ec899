// Internal to the gateway.
// The modes an operator watches the process with. ping answers "pong"
// without touching a server or a file; status answers the process's
// figures (GatewayStatus) in XML, or with format=prometheus in the
// Prometheus text exposition format (StatusAccess says who may see it).
#pragma once

#include <string>

#include "GatewayMode.h"
#include "GatewayStatus.h"

class CgiRequest;

std::string ping(const ModeContext& context);
std::string status(const ModeContext& context);

// True when the answer is the metrics text, not an XML document.
bool wantsMetricsText(const CgiRequest& request);

// The figures as the status mode's XML (the text inside <response>) and as
// metrics text.
std::string statusXml(const GatewayStatus::Snapshot& figures);
std::string statusMetrics(const GatewayStatus::Snapshot& figures);
