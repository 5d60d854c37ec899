// Internal to the gateway.
// The modes an operator watches the process with. ping answers "pong"
// without touching a server or a file; status answers the process's
// figures (GatewayStatus) in XML, or with format=prometheus in the
// Prometheus text exposition format, and only to the users named in
// CORVANE_STATUS_USERS (separated by blanks or commas); anyone else is
// refused with 403 before any mode runs.
#pragma once

#include <string>

#include "GatewayMode.h"
#include "GatewayStatus.h"
#include "Refusals.h"

class CgiRequest;
class RequestIo;

std::string ping(const ModeContext& context);
std::string status(const ModeContext& context);

// The 403 of a status request by a user the setting does not name; no
// refusal (null status) for anything else.
Refusal statusRefusal(const RequestIo& io, const CgiRequest& request);
// True for ping and status, which need neither the client library nor a
// server.
bool isOperatorMode(const std::string& mode);
// True when the answer is the metrics text, not an XML document.
bool wantsMetricsText(const CgiRequest& request);

// The figures as the status mode's XML (the text inside <response>) and as
// metrics text.
std::string statusXml(const GatewayStatus::Snapshot& figures);
std::string statusMetrics(const GatewayStatus::Snapshot& figures);
