// What both attribute-file readers share: the file's bytes, handed in by the import that
// read them, the name the trace lines give the file, and the header every version starts
// with. The readers parse bytes only; they open no file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/Object.h"
#include "base/Text.h"

namespace es {

// The first 12 bytes of every attribute file, whatever its version. Both readers fill
// it, so that the document import reads version and page count from one place.
struct AttrFileHeader {
  std::uint16_t field0 = 0;
  std::uint16_t version = 0;
  std::uint32_t field4 = 0;
  std::int32_t pageCount = 0;
};

inline constexpr std::uint16_t kAttrFileVersion2 = 0x0200;
inline constexpr std::uint16_t kAttrFileVersion1 = 0x0100;
inline constexpr std::size_t kAttrFileHeaderSize = 12;

// Little-endian numbers of the attribute files; the caller has checked the bounds.
namespace attrbytes {
inline std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::int16_t I16(const std::uint8_t* p) { return static_cast<std::int16_t>(U16(p)); }
inline std::uint32_t U32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
}
inline std::int32_t I32(const std::uint8_t* p) { return static_cast<std::int32_t>(U32(p)); }
}  // namespace attrbytes

class CAttrFileReader : public CObject {
 public:
  CAttrFileReader() = default;
  ~CAttrFileReader() override = default;
  CAttrFileReader(const CAttrFileReader&) = delete;
  CAttrFileReader& operator=(const CAttrFileReader&) = delete;

  // Bytes kept from the file; every page record takes at least 8 of them.
  std::size_t FileSize() const { return buffer_.size(); }

 protected:
  // Keeps `bytes` when they hold at least `headSize` bytes; otherwise traces that the file
  // named `name` is too short for its `part` ("header", "head") and keeps nothing.
  bool Keep(std::vector<std::uint8_t> bytes, const Str& name, std::size_t headSize, const char16_t* part);
  // The two 16-bit fields and the 32-bit field at offset 4, when they are there.
  void ReadFirstFields(AttrFileHeader* header) const;

  Str name_;  // for trace lines; empty when none was given
  std::vector<std::uint8_t> buffer_;
};

}  // namespace es
