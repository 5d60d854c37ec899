// Internal to corvane_sim.
// What the stand-in server answers: every node and base method a Corvane
// client calls, as plain functions from the argument text to the reply text
// (or an error text). Knows nothing of sockets; SimServer puts it on the
// wire. Not thread-safe: one dispatching thread calls it.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "client/api/CorvaneDaemonInfo.h"
#include "client/api/CorvaneMulticastProtocol.h"
#include "sim/SimTranslations.h"
#include "sim/SimTree.h"

namespace CorvaneSim {

// One "RegisterEvents" subscription.
struct SimEventRegistration {
    int port = 0;
    int connection = 0;
    std::string subject;

    bool operator==(const SimEventRegistration& o) const {
        return port == o.port && connection == o.connection && subject == o.subject;
    }
};

class SimService {
public:
    static constexpr const char* kProduct = "corvane-sim";
    static constexpr const char* kVendor = "Corvane";

    SimService(SimTree tree, SimTranslations translations, CorvaneDaemonInfo info);

    // The names of every method call() serves.
    static const std::vector<std::string>& methodNames();

    // Runs one method. True with the reply text, or false with the error
    // text in *reply.
    bool call(const std::string& method, const std::string& args, std::string* reply);

    // A fault: child is listed as one more child of parent, ahead of its
    // real ones, for as long as both exist. False when either does not.
    bool listExtraChild(const std::string& parent, const std::string& child, std::string* error);

    // The other servers "GetDaemonList" lists after this one; a copy each
    // call, so the source may be fed by another thread. Empty: none.
    using PeerSource = std::function<CorvaneMulticastProtocol::ServerList()>;
    void setPeerSource(PeerSource peers) { peers_ = std::move(peers); }

    // Set once "Shutdown" has been served.
    bool shutdownRequested() const { return shutdownRequested_; }
    const std::vector<SimEventRegistration>& registrations() const { return registrations_; }
    const SimTree& tree() const { return tree_; }
    const CorvaneDaemonInfo& daemonInfo() const { return info_; }

    typedef bool (SimService::*Handler)(const std::string& args, std::string* reply);

private:
    struct MethodEntry {
        const char* name;
        Handler handler;
    };
    static const std::vector<MethodEntry>& methodTable();

    // Node methods (SimServiceNodes.cpp).
    bool getRootNode(const std::string& args, std::string* reply);
    bool getParentNode(const std::string& args, std::string* reply);
    bool renameNode(const std::string& args, std::string* reply);
    bool destroyNode(const std::string& args, std::string* reply);
    bool getChildren(const std::string& args, std::string* reply);
    bool getChildrenEx(const std::string& args, std::string* reply);
    bool getNodeType(const std::string& args, std::string* reply);
    bool getNodeTypeStr(const std::string& args, std::string* reply);
    bool getDisplayName(const std::string& args, std::string* reply);
    bool getDisplayNameEx(const std::string& args, std::string* reply);
    bool createNode(const std::string& args, std::string* reply);
    bool createNodeEx(const std::string& args, std::string* reply);
    bool getMetaData(const std::string& args, std::string* reply);
    bool setMetaData(const std::string& args, std::string* reply);
    bool queryMetaDataSupport(const std::string& args, std::string* reply);
    bool getStreamId(const std::string& args, std::string* reply);
    bool getStorageId(const std::string& args, std::string* reply);
    bool getClipFormat(const std::string& args, std::string* reply);
    bool getNbReadAheads(const std::string& args, std::string* reply);
    bool getFrames(const std::string& args, std::string* reply);
    bool getFramesEx(const std::string& args, std::string* reply);
    bool allocateFrames(const std::string& args, std::string* reply);
    bool allocateFramesEx(const std::string& args, std::string* reply);
    bool getFramePaths(const std::string& args, std::string* reply);
    bool getFramePathsEx(const std::string& args, std::string* reply);
    bool setFramePaths(const std::string& args, std::string* reply);
    bool setFramePathsEx(const std::string& args, std::string* reply);
    bool queryNodePlugInVersion(const std::string& args, std::string* reply);
    bool queryNodePlugInProduct(const std::string& args, std::string* reply);
    bool queryNodePlugInVendor(const std::string& args, std::string* reply);

    // Base methods (SimService.cpp).
    bool queryVersion(const std::string& args, std::string* reply);
    bool ping(const std::string& args, std::string* reply);
    bool shutdown(const std::string& args, std::string* reply);
    bool registerEvents(const std::string& args, std::string* reply);
    bool unregisterEvents(const std::string& args, std::string* reply);
    bool translatePaths(const std::string& args, std::string* reply);
    bool getTranslationGroups(const std::string& args, std::string* reply);
    bool getHostTranslations(const std::string& args, std::string* reply);
    bool getOsTypeTranslations(const std::string& args, std::string* reply);
    bool getDaemonInfo(const std::string& args, std::string* reply);
    bool getDaemonList(const std::string& args, std::string* reply);

    // The children a reply lists: the extra ones, then the real ones.
    std::vector<std::string> childrenOf(const SimNode& node) const;
    // The node the whole argument text names, or false with the reason.
    const SimNode* wholeNode(const std::string& args, std::string* reply);
    bool parseRegistration(const std::string& args, SimEventRegistration* out, std::string* reply);
    // Fails the call with "Malformed arguments for '<method>': expected <why>".
    bool malformed(const std::string& why, std::string* reply) const;

    SimTree tree_;
    SimTranslations translations_;
    CorvaneDaemonInfo info_;
    std::vector<SimEventRegistration> registrations_;
    std::map<std::string, std::vector<std::string>> extraChildren_;
    PeerSource peers_;
    bool shutdownRequested_ = false;
    std::string method_;  // the method being served, for error texts
};

}  // namespace CorvaneSim
