// A set of named string attributes received from a server (event details),
// kept as attribute-stream text. A value type; a const one may be read from
// several threads at once.
//
//     for (int i = 0; i < details.size(); ++i)
//         if (details.getAttribute(i, name, value))
//             std::printf("%s = %s\n", name.c_str(), value.c_str());
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
    // Number of attributes.
    int size() const;
    // The attribute at index (0 to size() - 1), in the order the server
    // sent them; false when index is out of range.
    bool getAttribute(int index, CorvaneStr& name, CorvaneStr& value) const;
    // For people: name='value' pairs separated by blanks, with newlines and
    // tabs shown as blanks and long values (past about kTextValueBytes
    // bytes) cut and ended with "...'". For example
    // Node='/media/clip' Stream='info'.
    CorvaneStr toText() const;
    static constexpr int kTextValueBytes = 200;
    // The attribute-stream text, as it came over the wire: each attribute
    // as its name, a blank, the value's length in bytes, a blank and the
    // value, with nothing between attributes ("Node 6 /media").
    const char* c_str() const;
    // Same attributes with the same values, in any order.
    bool operator==(const CorvaneDictionary& other) const;
    bool operator!=(const CorvaneDictionary& other) const { return !(*this == other); }

private:
    std::unique_ptr<Imp> imp_;
};
