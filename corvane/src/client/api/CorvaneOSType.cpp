#include "client/api/CorvaneOSType.h"

#include "client/api/CorvaneNameIndex.h"

namespace {
const char* const kOSNames[] = {"Unknown", "Irix", "Linux", "WindowsNT", "MacOSX"};
}  // namespace

int CorvaneOSType::fromName(const char* name) { return corvaneNameIndex(kOSNames, name, 0); }

const char* CorvaneOSType::toName(int value) { return value >= 1 && value <= 4 ? kOSNames[value] : "Unknown"; }
