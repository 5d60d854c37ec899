// The local interfaces by traffic role (metadata, data, multicast), chosen and
// ordered by the network configuration, and the observers told which
// interfaces appeared or disappeared. With monitoring on, the lists are
// rebuilt after every topology change seen by CoNetworkMonitor.
//
// Thread-safe: one lock guards the lists and the observers; callers get
// copies. Observers are called with that lock held, on the thread that
// rebuilt the lists (the monitor thread after a change), so an observer must
// not call back into the same dispatcher. Lock order: monitor lock, then this
// dispatcher's lock, then the observers' own locks.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <boost/function.hpp>

#include "base/loggerBase/CoLastErrLogger.h"
#include "base/network/CoNetworkInterface.h"
#include "base/network/CoNetworkMonitor.h"
#include "base/threads/CoMutex.h"

struct ifaddrs;

namespace Corvane {

class CoNetworkDispatcher {
public:
    enum class Type : int { All = 0, Metadata = 1, Data = 2, Multicast = 3 };

    // Events passed to Observer::interfaceChanged.
    enum Event : int { kInterfaceAdded = 0, kInterfaceRemoved = 1 };

    // An interface of a list and its place in the configured names of the
    // list's role (0 when the role lists no names).
    struct Entry {
        const CoNetworkInterface* interface;  // owned by the dispatcher
        unsigned rank;
    };

    class Observer {
    public:
        virtual ~Observer() = default;
        // event is kInterfaceAdded or kInterfaceRemoved.
        virtual void interfaceChanged(int event, const CoNetworkInterface& interface) = 0;
    };

    typedef boost::function<bool(const CoNetworkInterface&)> Filter;

    // With monitor true the lists follow topology changes while the network
    // layer is initialised (CoNetwork::init).
    explicit CoNetworkDispatcher(bool monitor);
    ~CoNetworkDispatcher();
    CoNetworkDispatcher(const CoNetworkDispatcher&) = delete;
    CoNetworkDispatcher& operator=(const CoNetworkDispatcher&) = delete;

    // Not owned; remove an observer before destroying it.
    void addObserver(Observer* observer);
    void removeObserver(Observer* observer);

    // Rebuilds the lists when not yet built or when force is set, and tells
    // the observers what changed. False when the configuration or the
    // interfaces could not be read; lastError() says why.
    bool update(bool force = false);

    // Copies of the type's list in preference order, keeping those the filter
    // accepts (an empty filter keeps all). Builds the lists on first use.
    bool getInterfaces(std::vector<CoNetworkInterface>& interfaces, Type type, const Filter& filter = Filter());

    std::string lastError() const;

    // Preference orders, a before b: lower rank, then loopback, then lower
    // speed (metadata) or higher speed (data), then the gateway interface,
    // then the name.
    static bool metadataSort(const Entry& a, const Entry& b);
    static bool dataSort(const Entry& a, const Entry& b);

    // "metadata", "data", "multicast"; anything else is All.
    static Type getTypeFromStr(const char* type);
    static const char* getTypeStr(Type type);

private:
    // Rebuilds this dispatcher after a topology change.
    class Monitor final : public CoNetworkMonitor::Observer {
    public:
        explicit Monitor(CoNetworkDispatcher* dispatcher);
        ~Monitor() override;
        void callback() override;

    private:
        CoNetworkDispatcher* dispatcher_;
    };

    struct RoleNames;

    // Warnings are collected and posted by the caller after unlocking.
    bool updateLocked(bool force, std::vector<std::string>& warnings);
    bool readConfigurationLocked(RoleNames& names);
    // Adds one address that is up and running to the lists it qualifies for.
    void addLocked(const ifaddrs& entry, const RoleNames& names, const std::string& gateway);
    void notifyLocked(const std::vector<std::unique_ptr<CoNetworkInterface>>& old);
    // "<Role> interface '<name>' is invalid or down" for each configured
    // name that matched nothing in its role's list.
    void findMissingLocked(const RoleNames& names, std::vector<std::string>& warnings) const;
    static void postWarnings(const std::vector<std::string>& warnings);
    const std::vector<Entry>& listLocked(Type type) const;

    mutable CoMutex mutex_;  // guards everything below
    CoLastErrLogger logger_;
    bool initialised_ = false;
    std::vector<std::unique_ptr<CoNetworkInterface>> interfaces_;  // what the entries point to
    std::vector<Entry> all_;
    std::vector<Entry> metadata_;
    std::vector<Entry> data_;
    std::vector<Entry> multicast_;
    std::vector<Observer*> observers_;  // registration order, no repeats
    std::unique_ptr<Monitor> monitor_;  // made last, destroyed first
};

}  // namespace Corvane
