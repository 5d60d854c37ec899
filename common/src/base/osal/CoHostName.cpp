#include "base/osal/CoHostName.h"

#include <limits.h>
#include <unistd.h>

#include <cerrno>

namespace Corvane {

std::optional<std::string> localHostName(int* err) {
    char name[HOST_NAME_MAX + 1];
    if (::gethostname(name, sizeof name) != 0) {
        if (err)
            *err = errno;
        return std::nullopt;
    }
    name[sizeof name - 1] = '\0';  // a cut name need not be terminated
    return std::string(name);
}

}  // namespace Corvane
