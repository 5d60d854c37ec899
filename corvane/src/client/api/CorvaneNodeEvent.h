// One node event reported by a server: which node, what happened, details.
// A value type. Handler is what an application registers (through
// CorvaneServerHandle::registerEventHandler) to be told of them.
//
// getNodeId() is the node the handler was registered for; a registration
// covers that node and every node below it, and the "Node" detail names
// the node that changed. The types servers send, and their details (all
// texts; read them with CorvaneDictionary::getStringAttribute):
//
//   type               details besides "Node" and "Time"
//   "NodeCreated"      none: "Node" is the new node
//   "NodeDestroyed"    none
//   "NodeRenamed"      "Name": the new display name
//   "MetaDataChanged"  "Stream": the metadata stream written
//   "FramesChanged"    "Frame": the frame written, when one frame was;
//                      absent when the node's frame list changed
//
// Every event carries "Node" (the changed node's identifier) and "Time":
// when the server made the change, in decimal microseconds of its host's
// monotonic clock. That clock counts from an arbitrary start (the host's
// boot), so Time orders one server's events and measures between them, and
// compares with this process's clock only on the server's own host. A
// server may send other types and details: a handler passes over what it
// does not know.
#pragma once

#include "client/api/CorvaneDictionary.h"
#include "client/api/CorvaneNodeId.h"
#include "client/api/CorvaneStr.h"

class CorvaneNodeEvent {
public:
    // Told of the events of the nodes it is registered for. Called on the
    // library's event thread, one event at a time, in the order the server
    // sent them; it must return promptly, since other events wait for it.
    // Not owned by the library: unregister it before destroying it.
    class Handler {
    public:
        virtual ~Handler() = default;
        virtual void handleEvent(const CorvaneNodeEvent& event) = 0;
    };

    CorvaneNodeEvent() = default;
    CorvaneNodeEvent(const CorvaneNodeId& nodeId, const char* type, const CorvaneDictionary& details)
        : nodeId_(nodeId), type_(type), details_(details) {}
    virtual ~CorvaneNodeEvent() = default;

    const CorvaneNodeId& getNodeId() const { return nodeId_; }
    const char* getType() const { return type_.c_str(); }
    const CorvaneDictionary& getDetails() const { return details_; }

    bool operator==(const CorvaneNodeEvent& other) const {
        return nodeId_ == other.nodeId_ && type_ == other.type_ && details_ == other.details_;
    }
    bool operator!=(const CorvaneNodeEvent& other) const { return !(*this == other); }

private:
    CorvaneNodeId nodeId_;
    CorvaneStr type_;
    CorvaneDictionary details_;
};
