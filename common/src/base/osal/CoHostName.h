// The machine's host name. Every layer that names this host reads it here
// and says itself what a failure means (an exception, "localhost",
// "unknown"). Thread-safe.
#pragma once

#include <optional>
#include <string>

namespace Corvane {

// The name gethostname gives; none when the system cannot tell, with its
// error number in *err when err is not null.
std::optional<std::string> localHostName(int* err = nullptr);

}  // namespace Corvane
