// A set of named string attributes received from a server (event details),
// kept as attribute-stream text. A value type.
#pragma once

#include <memory>

#include "client/api/CorvaneStr.h"

class CorvaneDictionary {
public:
    class Imp;

    // A null text is an empty dictionary.
    explicit CorvaneDictionary(const char* streamText = nullptr);
    CorvaneDictionary(const CorvaneDictionary& other);
    CorvaneDictionary& operator=(const CorvaneDictionary& other);
    virtual ~CorvaneDictionary();

    // True when name is present; value is then its text.
    bool getStringAttribute(const char* name, CorvaneStr& value) const;
    // The attribute-stream text.
    const char* c_str() const;
    // Same attributes with the same values, in any order.
    bool operator==(const CorvaneDictionary& other) const;
    bool operator!=(const CorvaneDictionary& other) const { return !(*this == other); }

private:
    std::unique_ptr<Imp> imp_;
};
