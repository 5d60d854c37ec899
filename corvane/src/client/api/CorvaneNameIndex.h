// Internal to corvane_client.
// Finds a name in a fixed table without regard to case.
#pragma once

#include <strings.h>

#include <cstddef>

// The index of name in names; notFound for null or an unknown name.
template <size_t N>
int corvaneNameIndex(const char* const (&names)[N], const char* name, int notFound) {
    if (!name)
        return notFound;
    for (size_t i = 0; i < N; ++i)
        if (strcasecmp(name, names[i]) == 0)
            return static_cast<int>(i);
    return notFound;
}
