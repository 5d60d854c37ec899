#include "client/api/CorvaneScanFormat.h"

#include "client/api/CorvaneNameIndex.h"

namespace {
const char* const kScanNames[] = {"field1_odd", "field1_even", "field2_odd", "field2_even", "progressive"};
}  // namespace

int CorvaneScanFormat::fromName(const char* name) { return corvaneNameIndex(kScanNames, name, -1); }

const char* CorvaneScanFormat::toName(int value) { return value >= 0 && value <= 4 ? kScanNames[value] : "unknown"; }
