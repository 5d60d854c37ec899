// Internal to the gateway.
// What --check finds wrong with the settings a gateway would run with: the
// environment's CORVANE_* and XQ_* variables (unknown names, numbers that
// are not numbers, flags, log levels, the allow-list's entries and the
// names in it, trusted origins), the network configuration file and the
// account directory of the working directory. Each problem is one line
// naming the setting or file and what is wrong with it.
#pragma once

#include <string>
#include <vector>

// environment: "NAME=value" entries, as environ holds them.
std::vector<std::string> settingsProblems(const std::vector<std::string>& environment);
