#include "AdminModes.h"

#include "AdministratorList.h"
#include "CgiRequest.h"
#include "ServerDoor.h"
#include "client/api/CorvaneNodeHandle.h"
#include "client/api/CorvaneStr.h"

std::string isAdmin(const ModeContext& context) {
    TimeoutCorvaneServerHandle server = context.door.open(context.host);
    CorvaneNodeHandle root(server, "/");
    CorvaneStr info;
    if (!root.getMetaData("info", "", 0, info))
        throw std::string(root.lastError());
    const bool admin = isListedAdministrator(info.c_str(), context.request.remoteUserName());
    server.resetTimer();
    return admin ? "true" : "false";
}
