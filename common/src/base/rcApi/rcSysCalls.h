// Names of the methods every server context serves itself.
#pragma once

namespace Corvane {

struct rcSysCalls {
    static constexpr const char* CALL_LOGIN = "_login";
    static constexpr const char* CALL_PING = "_ping";
};

}  // namespace Corvane
