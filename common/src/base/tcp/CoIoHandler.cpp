#include "base/tcp/CoIoHandler.h"

namespace Corvane {

CoIoHandler::~CoIoHandler() = default;

}  // namespace Corvane
