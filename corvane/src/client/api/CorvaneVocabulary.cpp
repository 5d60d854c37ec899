#include "client/api/CorvaneVocabulary.h"

#include <strings.h>

namespace {
const char* const kScanNames[] = {"field1_odd", "field1_even", "field2_odd", "field2_even", "progressive"};
const char* const kOSNames[] = {"Unknown", "Irix", "Linux", "WindowsNT", "MacOSX"};

template <size_t N>
int indexOf(const char* const (&names)[N], const char* name, int notFound) {
    if (!name)
        return notFound;
    for (size_t i = 0; i < N; ++i)
        if (strcasecmp(name, names[i]) == 0)
            return static_cast<int>(i);
    return notFound;
}
}  // namespace

int CorvaneScanFormat::fromName(const char* name) { return indexOf(kScanNames, name, -1); }

const char* CorvaneScanFormat::toName(int value) { return value >= 0 && value <= 4 ? kScanNames[value] : "unknown"; }

int CorvaneOSType::fromName(const char* name) { return indexOf(kOSNames, name, 0); }

const char* CorvaneOSType::toName(int value) { return value >= 1 && value <= 4 ? kOSNames[value] : "Unknown"; }
