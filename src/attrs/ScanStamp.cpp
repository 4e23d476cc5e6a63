#include "attrs/ScanStamp.h"

#include "attrs/AttributeIds.h"
#include "platform/Platform.h"

namespace es::attrs {

namespace {
void PutName(ScanStamp& stamp, std::size_t offset, std::size_t units, const Str& name) {
  const std::size_t n = name.size() < units - 1 ? name.size() : units - 1;
  for (std::size_t i = 0; i < n; ++i) {
    stamp[offset + 2 * i] = static_cast<std::uint8_t>(name[i] & 0xFF);
    stamp[offset + 2 * i + 1] = static_cast<std::uint8_t>(name[i] >> 8);
  }
}
}  // namespace

ScanStamp BuildScanStamp(std::int64_t unixTime, const Str& user, const Str& computer) {
  ScanStamp stamp{};
  auto t = static_cast<std::uint64_t>(unixTime);
  for (int i = 0; i < 8; ++i) stamp[i] = static_cast<std::uint8_t>(t >> (8 * i));
  PutName(stamp, kScanStampUserOffset, kScanStampUserChars, user);
  PutName(stamp, kScanStampComputerOffset, kScanStampComputerChars, computer);
  return stamp;
}

ScanStamp CurrentScanStamp() {
  auto& os = platform::Os();
  Str user;
  if (!os.UserName(100, &user)) user.clear();
  Str computer;
  // Windows computer names fit 15 characters; a longer host name is cut to that.
  if (!os.ComputerName(16, &computer) && !os.ComputerName(256, &computer)) computer.clear();
  return BuildScanStamp(os.UnixTime(), user, computer);
}

}  // namespace es::attrs
