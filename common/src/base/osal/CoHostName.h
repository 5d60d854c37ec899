// The machine's host name. Every layer that names this host reads it here
// and says itself what a failure means (an exception, "localhost",
// "unknown"). Thread-safe.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace Corvane {

// The name gethostname gives in a buffer of bufferBytes, so that a longer
// name fails as it does there; none on failure, with the system's error
// number in *err when err is not null.
std::optional<std::string> localHostName(size_t bufferBytes, int* err = nullptr);

}  // namespace Corvane
