#include "base/osal/CoHostName.h"

#include <unistd.h>

#include <cerrno>
#include <vector>

namespace Corvane {

std::optional<std::string> localHostName(size_t bufferBytes, int* err) {
    std::vector<char> name(bufferBytes + 1, '\0');  // the last byte always ends it
    if (::gethostname(name.data(), bufferBytes) != 0) {
        if (err)
            *err = errno;
        return std::nullopt;
    }
    return std::string(name.data());
}

}  // namespace Corvane
