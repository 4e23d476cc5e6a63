// The module's string table as compiled into builds that have no resource section.
#pragma once

#include <cstdint>

namespace es::resources {
struct StringEntry {
  std::uint32_t id;
  const char16_t* text;
};
extern const StringEntry kStrings[];
extern const unsigned kStringCount;
}  // namespace es::resources
