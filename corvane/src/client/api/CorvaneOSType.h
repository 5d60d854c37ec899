// The operating-system types servers and clients tell each other, by name.
// Names are read without regard to case and written exactly as listed.
// Thread-safe.
#pragma once

namespace CorvaneOSType {
enum Value { Unknown = 0, Irix = 1, Linux = 2, WindowsNT = 3, MacOSX = 4 };
// 0 for an unknown name.
int fromName(const char* name);
// "Unknown" outside 1..4.
const char* toName(int value);
}  // namespace CorvaneOSType
