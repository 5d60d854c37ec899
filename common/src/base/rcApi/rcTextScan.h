// Internal to corvane_rpc.
// Number and word scanning shared by the record and parameter readers. The
// scanners never read past the range they are given, because the texts come
// from the wire and are not terminated where a field ends.
#pragma once

namespace Corvane {
namespace rcText {

// strtol in base 10 over [begin, end): leading white space, an optional sign,
// then digits up to the first other character. Out-of-range values clamp to
// LONG_MIN/LONG_MAX as strtol does; no digits give 0.
long scanLong(const char* begin, const char* end);

// The boolean word rule: exactly "true" or "false", else a case-insensitive
// "1", "yes", "on" or "true" is true and anything else false.
bool wordToBool(const char* word);

}  // namespace rcText
}  // namespace Corvane
