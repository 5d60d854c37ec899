#include "AccountModes.h"

#include <algorithm>

#include "AccountStore.h"
#include "CgiRequest.h"
#include "CoXmlWriter.h"
#include "RequestLimits.h"

namespace {

AccountStore storeOf(const ModeContext& context) {
    return AccountStore(context.request.remoteUserName(), context.stripDomain);
}

}  // namespace

std::string getUser(const ModeContext& context) {
    return CoXmlWriter::escape(AccountStore::domainStripped(context.request.remoteUserName()));
}

std::string loadUser(const ModeContext& context) { return storeOf(context).load(context.limits); }

std::string saveUser(const ModeContext& context) {
    // A save waits for another of the same user no longer than a server
    // operation may take, nor past the request's deadline.
    storeOf(context).save(context.request.get("corvaneMetadata"),
                          std::min(context.browseLimitMs, context.limits.remainingMs()));
    return std::string();
}
