#include "AdminCheck.h"

#include "AdministratorList.h"
#include "CgiRequest.h"
#include "ServerPolicy.h"
#include "TimeoutCorvaneServerHandle.h"
#include "client/api/CorvaneNodeHandle.h"
#include "client/api/CorvaneStr.h"

std::string isAdmin(ModeContext& context) {
    context.servers.check(context.host);
    TimeoutCorvaneServerHandle server(context.host.c_str(), context);
    CorvaneNodeHandle root(server, "/");
    CorvaneStr info;
    if (!root.getMetaData("info", "", 0, info))
        throw std::string(root.lastError());
    const bool admin = isListedAdministrator(info.c_str(), context.request.remoteUserName());
    server.resetTimer();
    return admin ? "true" : "false";
}
