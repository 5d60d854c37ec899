// Identifier of one node of a server's node tree. A value type.
#pragma once

#include "client/api/CorvaneStr.h"

class CorvaneNodeId {
public:
    CorvaneNodeId() = default;
    CorvaneNodeId(const char* id) : id_(id) {}        // NOLINT: converts like the text it wraps
    CorvaneNodeId(const CorvaneStr& id) : id_(id) {}  // NOLINT
    virtual ~CorvaneNodeId() = default;

    const char* getId() const { return id_.c_str(); }
    bool operator==(const CorvaneNodeId& other) const { return id_ == other.id_; }
    bool operator!=(const CorvaneNodeId& other) const { return !(id_ == other.id_); }
    bool operator<(const CorvaneNodeId& other) const { return id_ < other.id_; }

private:
    CorvaneStr id_;
};
