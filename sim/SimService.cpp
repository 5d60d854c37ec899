#include "sim/SimService.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "base/rcApi/rcAttrStream.h"
#include "sim/SimArgs.h"
#include "sim/SimEvents.h"

namespace CorvaneSim {

SimService::SimService(SimTree tree, SimTranslations translations, CorvaneDaemonInfo info)
    : tree_(std::move(tree)), translations_(std::move(translations)), info_(std::move(info)) {}

const std::vector<std::string>& SimService::methodNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> out;
        for (const MethodEntry& e : methodTable())
            out.push_back(e.name);
        return out;
    }();
    return names;
}

bool SimService::call(const std::string& method, const std::string& args, std::string* reply) {
    reply->clear();
    for (const MethodEntry& e : methodTable()) {
        if (method == e.name) {
            method_ = method;
            return (this->*e.handler)(args, reply);
        }
    }
    *reply = "Unknown method: " + method;
    return false;
}

bool SimService::malformed(const std::string& why, std::string* reply) const {
    *reply = "Malformed arguments for '" + method_ + "': expected " + why;
    return false;
}

bool SimService::listExtraChild(const std::string& parent, const std::string& child, std::string* error) {
    if (!tree_.require(parent, error) || !tree_.require(child, error))
        return false;
    extraChildren_[parent].push_back(child);
    return true;
}

std::vector<std::string> SimService::childrenOf(const SimNode& node) const {
    std::vector<std::string> ids;
    const auto extra = extraChildren_.find(node.id);
    if (extra != extraChildren_.end())
        for (const std::string& id : extra->second)
            if (tree_.find(id))
                ids.push_back(id);
    ids.insert(ids.end(), node.children.begin(), node.children.end());
    return ids;
}

const SimNode* SimService::wholeNode(const std::string& args, std::string* reply) {
    std::string id, why;
    if (!parseWholeNode(args, &id, &why)) {
        malformed(why, reply);
        return nullptr;
    }
    return tree_.require(id, reply);
}

bool SimService::queryVersion(const std::string&, std::string* reply) {
    *reply = std::to_string(info_.getVersionMajor()) + " " + std::to_string(info_.getVersionMinor());
    return true;
}

bool SimService::ping(const std::string&, std::string*) { return true; }

bool SimService::shutdown(const std::string&, std::string*) {
    shutdownRequested_ = true;
    return true;
}

bool SimService::parseRegistration(const std::string& args, SimEventRegistration* out, std::string* reply) {
    const Corvane::rcAttrStream stream(args);
    std::string why;
    if (!requireInt(stream, "Port", &out->port, &why) || !requireInt(stream, "Connection", &out->connection, &why) ||
        !requireString(stream, "Subject", &out->subject, &why))
        return malformed(why, reply);
    if (out->port <= 0 || out->port > 65535)
        return malformed("a port from 1 to 65535 in 'Port'", reply);
    return true;
}

bool SimService::registerEvents(const std::string& args, std::string* reply) {
    SimEventRegistration r;
    if (!parseRegistration(args, &r, reply))
        return false;
    if (!tree_.require(r.subject, reply))
        return false;
    if (SimEvents* events = SimEvents::current())
        events->registered(r.port, r.connection, r.subject);
    if (std::find(registrations_.begin(), registrations_.end(), r) == registrations_.end())
        registrations_.push_back(std::move(r));
    return true;
}

bool SimService::unregisterEvents(const std::string& args, std::string* reply) {
    SimEventRegistration r;
    if (!parseRegistration(args, &r, reply))
        return false;
    // Forgetting what was never registered is harmless: the client
    // unregisters after reconnecting without knowing what we kept. An
    // empty subject stands for all of that connection's.
    if (SimEvents* events = SimEvents::current())
        events->unregistered(r.port, r.connection, r.subject);
    registrations_.erase(std::remove_if(registrations_.begin(), registrations_.end(),
                                        [&r](const SimEventRegistration& k) {
                                            return k.port == r.port && k.connection == r.connection &&
                                                   (r.subject.empty() || k.subject == r.subject);
                                        }),
                         registrations_.end());
    return true;
}

bool SimService::translatePaths(const std::string& args, std::string* reply) {
    SimArgScanner scan(args);
    std::string srcHost, dstHost;
    int srcCode = 0, dstCode = 0;
    if (!scan.literalQuoted(&srcHost) || !scan.blank() || !scan.integer(&srcCode) || !scan.blank() ||
        !scan.literalQuoted(&dstHost) || !scan.blank() || !scan.integer(&dstCode) || !scan.blank())
        return malformed(scan.why(), reply);
    // The paths come as "p1","p2",... without escapes.
    const std::string list = scan.rest();
    if (list.empty())
        return true;
    if (list.size() < 2 || list.front() != '"' || list.back() != '"')
        return malformed("double-quoted paths separated by commas", reply);
    const std::string inner = list.substr(1, list.size() - 2);
    size_t start = 0;
    for (;;) {
        const size_t sep = inner.find("\",\"", start);
        const std::string path = inner.substr(start, sep == std::string::npos ? std::string::npos : sep - start);
        if (start > 0)
            *reply += ',';
        *reply += translations_.translate(path, srcHost, srcCode, dstHost, dstCode);
        if (sep == std::string::npos)
            break;
        start = sep + 3;
    }
    return true;
}

bool SimService::getTranslationGroups(const std::string&, std::string* reply) {
    Corvane::rcAttrStream stream;
    stream.addIntValue("numGroups", static_cast<int>(translations_.groups.size()));
    int i = 0;
    for (const SimTranslationGroup& g : translations_.groups) {
        std::string text = g.name + "," + std::to_string(g.number);
        for (const std::string& m : g.members)
            text += "," + m;
        stream.addStringValue(std::to_string(i++).c_str(), text);
    }
    *reply = stream.str();
    return true;
}

namespace {

std::string translationTable(const std::vector<SimPathTranslation>& table, const char* countKey, const char* srcKey,
                             const char* dstKey) {
    Corvane::rcAttrStream stream;
    stream.addIntValue(countKey, static_cast<int>(table.size()));
    int i = 0;
    for (const SimPathTranslation& t : table) {
        Corvane::rcAttrStream entry;
        entry.addStringValue(srcKey, t.src);
        entry.addStringValue("srcPath", t.srcPath);
        entry.addStringValue(dstKey, t.dst);
        entry.addStringValue("dstPath", t.dstPath);
        stream.addStringValue(std::to_string(i++).c_str(), entry.str());
    }
    return stream.str();
}

}  // namespace

bool SimService::getHostTranslations(const std::string&, std::string* reply) {
    *reply = translationTable(translations_.hosts, "numHostTranslations", "srcHost", "dstHost");
    return true;
}

bool SimService::getOsTypeTranslations(const std::string&, std::string* reply) {
    *reply = translationTable(translations_.osTypes, "numOsTypeTranslations", "srcType", "dstType");
    return true;
}

bool SimService::getDaemonInfo(const std::string&, std::string* reply) {
    Corvane::rcAttrStream stream;
    info_.write(stream);
    *reply = stream.str();
    return true;
}

bool SimService::getDaemonList(const std::string&, std::string* reply) {
    CorvaneMulticastProtocol::ServerList list{info_};
    if (peers_)
        list.splice(list.end(), peers_());
    *reply = CorvaneMulticastProtocol::encodeServerList(list);
    return true;
}

const std::vector<SimService::MethodEntry>& SimService::methodTable() {
    static const std::vector<MethodEntry> table = {
        {"GetRootNode", &SimService::getRootNode},
        {"GetParentNode", &SimService::getParentNode},
        {"RenameNode", &SimService::renameNode},
        {"DestroyNode", &SimService::destroyNode},
        {"GetChildren", &SimService::getChildren},
        {"GetChildrenEx", &SimService::getChildrenEx},
        {"GetNodeType", &SimService::getNodeType},
        {"GetNodeTypeStr", &SimService::getNodeTypeStr},
        {"GetDisplayName", &SimService::getDisplayName},
        {"GetDisplayNameEx", &SimService::getDisplayNameEx},
        {"CreateNode", &SimService::createNode},
        {"CreateNodeEx", &SimService::createNodeEx},
        {"GetMetaData", &SimService::getMetaData},
        {"SetMetaData", &SimService::setMetaData},
        {"QueryMetaDataSupport", &SimService::queryMetaDataSupport},
        {"GetStreamId", &SimService::getStreamId},
        {"GetStorageId", &SimService::getStorageId},
        {"GetClipFormat", &SimService::getClipFormat},
        {"GetNbReadAheads", &SimService::getNbReadAheads},
        {"GetFrames", &SimService::getFrames},
        {"GetFramesEx", &SimService::getFramesEx},
        {"AllocateFrames", &SimService::allocateFrames},
        {"AllocateFramesEx", &SimService::allocateFramesEx},
        {"GetFramePaths", &SimService::getFramePaths},
        {"GetFramePathsEx", &SimService::getFramePathsEx},
        {"SetFramePaths", &SimService::setFramePaths},
        {"SetFramePathsEx", &SimService::setFramePathsEx},
        {"QueryNodePlugInVersion", &SimService::queryNodePlugInVersion},
        {"QueryNodePlugInProduct", &SimService::queryNodePlugInProduct},
        {"QueryNodePlugInVendor", &SimService::queryNodePlugInVendor},
        {"QueryVersion", &SimService::queryVersion},
        {"Ping", &SimService::ping},
        {"Shutdown", &SimService::shutdown},
        {"RegisterEvents", &SimService::registerEvents},
        {"UnregisterEvents", &SimService::unregisterEvents},
        {"TranslatePaths", &SimService::translatePaths},
        {"GetTranslationGroups", &SimService::getTranslationGroups},
        {"GetHostTranslations", &SimService::getHostTranslations},
        {"GetOsTypeTranslations", &SimService::getOsTypeTranslations},
        {"GetDaemonInfo", &SimService::getDaemonInfo},
        {"GetDaemonList", &SimService::getDaemonList},
    };
    return table;
}

}  // namespace CorvaneSim
