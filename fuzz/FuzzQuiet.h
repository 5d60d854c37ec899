// Shared by the fuzz targets: parse errors are expected by the thousand,
// so posting is switched off rather than printed.
#pragma once

#include "base/loggerBase/CoMsg.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Corvane::CoMsg::setLevel(-1);
    return 0;
}
