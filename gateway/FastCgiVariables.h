// Internal to the gateway.
// A lookup table over an array of "NAME=value" strings: a FastCGI
// request's variables, or the process environment. It points into the
// strings it indexed and owns none of them: the array must outlive its use
// of the table. One thread uses a table at a time; processEnvironment()'s
// is made once and then only read, by any thread.
#pragma once

#include <cstddef>
#include <vector>

class FastCgiVariables {
public:
    // Replaces the table's entries with those of entries (null-ended, or
    // null for none), in order. Reuses the table's memory.
    void index(char** entries);
    // The value of the first entry named name, or null.
    const char* find(const char* name) const;

private:
    // A name and its value, both inside one "NAME=value" string.
    struct Entry {
        const char* name;
        size_t nameLength;
        const char* value;
    };
    std::vector<Entry> entries_;
};

// The process environment, indexed on first use: it never changes while
// the process serves.
const FastCgiVariables& processEnvironment();
