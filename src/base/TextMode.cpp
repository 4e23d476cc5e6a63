#include "base/TextMode.h"

namespace es {

namespace {
constexpr std::uint8_t kCr = 0x0D;
constexpr std::uint8_t kLf = 0x0A;
constexpr std::uint8_t kEndOfData = 0x1A;
}  // namespace

std::vector<std::uint8_t> DecodeTextMode(std::span<const std::uint8_t> bytes) {
  std::vector<std::uint8_t> out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const std::uint8_t b = bytes[i];
    if (b == kEndOfData) break;
    if (b == kCr && i + 1 < bytes.size() && bytes[i + 1] == kLf) continue;  // the LF follows
    out.push_back(b);
  }
  return out;
}

std::vector<std::uint8_t> EncodeTextMode(std::span<const std::uint8_t> bytes) {
  std::vector<std::uint8_t> out;
  out.reserve(bytes.size() + bytes.size() / 16);
  for (const std::uint8_t b : bytes) {
    if (b == kLf) out.push_back(kCr);
    out.push_back(b);
  }
  return out;
}

}  // namespace es
