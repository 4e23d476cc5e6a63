// The 248-byte scan stamp: when, by whom and on which computer a page was scanned.
#pragma once

#include <array>
#include <cstdint>

#include "base/Text.h"

namespace es::attrs {

using ScanStamp = std::array<std::uint8_t, 248>;

// Bytes 0-7 the time (seconds since 1970, little-endian), the user name at byte 8 (at
// most 100 characters and a terminator), the computer name at byte 210 (at most 15 and
// a terminator). Longer names are cut; bytes after a terminator are zero.
ScanStamp BuildScanStamp(std::int64_t unixTime, const Str& user, const Str& computer);
// The stamp of now, with the logged-on user's and this computer's names.
ScanStamp CurrentScanStamp();

}  // namespace es::attrs
