// The scan formats of a clip format by name: the order in which the fields
// of an image are stored. Names are read without regard to case and
// written exactly as listed. Thread-safe.
#pragma once

namespace CorvaneScanFormat {
// 0..4; -1 for an unknown name.
int fromName(const char* name);
// "unknown" outside 0..4.
const char* toName(int value);
}  // namespace CorvaneScanFormat
