// Internal to the gateway.
// The getServers mode: the servers discovery lists, for a page that knows
// none to choose from. Needs no host or node.
#pragma once

#include <string>

#include "GatewayMode.h"

// One <server> each, with its name, database, addresses, node and frame
// ports, version, whether it runs on this host, and the host text that
// opens it: its first address (with its node port) the site's list
// admits. A server the list admits under none of its addresses is left
// out. Ordered by name, then database, then host; every value escaped.
std::string getServers(const ModeContext& context);
