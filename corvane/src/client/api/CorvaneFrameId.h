// Identifier of one frame of a clip. A value type.
#pragma once

#include "client/api/CorvaneStr.h"

class CorvaneFrameId {
public:
    CorvaneFrameId() = default;
    CorvaneFrameId(const char* id) : id_(id) {}        // NOLINT: converts like the text it wraps
    CorvaneFrameId(const CorvaneStr& id) : id_(id) {}  // NOLINT
    virtual ~CorvaneFrameId() = default;

    const char* getId() const { return id_.c_str(); }
    bool operator==(const CorvaneFrameId& other) const { return id_ == other.id_; }
    bool operator!=(const CorvaneFrameId& other) const { return !(id_ == other.id_); }
    bool operator<(const CorvaneFrameId& other) const { return id_ < other.id_; }

private:
    CorvaneStr id_;
};
