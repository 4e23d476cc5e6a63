// The serialized attribute block: its constants, and a writer for producers that need
// the block without an attribute container (they link nothing for it).
//
// Layout (docs/attribute-block-format.md), little-endian:
//   "QATB", u16 version 1, u16 reserved 0, u32 count,
//   then per attribute: u32 id, u32 payload length, payload.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quillet {

inline constexpr std::uint8_t kMagic[4] = {'Q', 'A', 'T', 'B'};
inline constexpr std::uint16_t kFormatVersion = 1;
inline constexpr std::uint32_t kHeaderSize = 12;      // magic, version, reserved, count
inline constexpr std::uint32_t kEntryHeadSize = 8;    // id, payload length
inline constexpr std::uint32_t kNumberPayloadSize = 4;

inline constexpr std::uint8_t kScopePage = 0x01;
inline constexpr std::uint8_t kScopeDocument = 0x02;

inline constexpr std::uint8_t kTypeInt = 0x00;
inline constexpr std::uint8_t kTypeLong = 0x02;
inline constexpr std::uint8_t kTypeText = 0x07;
inline constexpr std::uint8_t kTypeBinary = 0x08;

constexpr std::uint8_t ScopeOf(std::uint32_t id) { return static_cast<std::uint8_t>(id >> 24); }
constexpr std::uint8_t TypeOf(std::uint32_t id) { return static_cast<std::uint8_t>(id >> 16); }
constexpr std::uint16_t NumberOf(std::uint32_t id) { return static_cast<std::uint16_t>(id); }
constexpr std::uint32_t MakeId(std::uint8_t scope, std::uint8_t type, std::uint16_t number) {
  return (std::uint32_t{scope} << 24) | (std::uint32_t{type} << 16) | number;
}
constexpr bool IsNumberType(std::uint8_t type) { return type == kTypeInt || type == kTypeLong; }
constexpr bool IsKnownType(std::uint8_t type) {
  return IsNumberType(type) || type == kTypeText || type == kTypeBinary;
}

inline void PutU16(std::uint8_t* out, std::uint16_t v) {
  out[0] = static_cast<std::uint8_t>(v);
  out[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutU32(std::uint8_t* out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline std::uint16_t GetU16(const std::uint8_t* in) {
  return static_cast<std::uint16_t>(in[0] | (in[1] << 8));
}
inline std::uint32_t GetU32(const std::uint8_t* in) {
  return std::uint32_t{in[0]} | (std::uint32_t{in[1]} << 8) | (std::uint32_t{in[2]} << 16) |
         (std::uint32_t{in[3]} << 24);
}

}  // namespace quillet

// Builds one block for a container of the given scope (1 page, 2 document). Every Add
// checks the id as the container would and throws std::invalid_argument when the block
// would be refused, so a producer cannot write an attribute file the module drops.
// Adding an id twice is allowed: the reader keeps the later value at the first position.
class QuilletBlockWriter {
 public:
  explicit QuilletBlockWriter(std::uint8_t scope) : scope_(scope) {
    if (scope != quillet::kScopePage && scope != quillet::kScopeDocument)
      throw std::invalid_argument("attribute block scope must be 1 (page) or 2 (document)");
  }

  // Int and long ids both take a number: both are kept as 32-bit signed values.
  QuilletBlockWriter& AddInt(std::uint32_t id, std::int32_t value) { return AddNumber(id, value); }
  QuilletBlockWriter& AddLong(std::uint32_t id, std::int32_t value) { return AddNumber(id, value); }

  // Without a terminator; a NUL unit inside the text is refused.
  QuilletBlockWriter& AddText(std::uint32_t id, std::u16string_view text) {
    Check(id, quillet::TypeOf(id) == quillet::kTypeText, "AddText needs a text id (type 0x07)");
    if (text.find(u'\0') != std::u16string_view::npos)
      throw std::invalid_argument("attribute text must not contain a NUL unit");
    if (text.size() > 0x7FFFFFFFu) throw std::invalid_argument("attribute text too long");
    std::uint8_t* out = Entry(id, static_cast<std::uint32_t>(text.size() * 2));
    for (char16_t unit : text) {
      quillet::PutU16(out, static_cast<std::uint16_t>(unit));
      out += 2;
    }
    return *this;
  }

  QuilletBlockWriter& AddBinary(std::uint32_t id, const void* data, std::size_t size) {
    Check(id, quillet::TypeOf(id) == quillet::kTypeBinary, "AddBinary needs a binary id (type 0x08)");
    if (data == nullptr && size > 0) throw std::invalid_argument("attribute binary data is null");
    if (size > 0xFFFFFFFFu) throw std::invalid_argument("attribute binary value too large");
    std::uint8_t* out = Entry(id, static_cast<std::uint32_t>(size));
    if (size > 0) std::memcpy(out, data, size);
    return *this;
  }
  QuilletBlockWriter& AddBinary(std::uint32_t id, const std::vector<std::uint8_t>& bytes) {
    return AddBinary(id, bytes.data(), bytes.size());
  }

  std::uint32_t Count() const { return count_; }

  // The whole block: header and every attribute added so far.
  std::vector<std::uint8_t> Bytes() const {
    if (body_.size() > 0xFFFFFFFFu - quillet::kHeaderSize)
      throw std::length_error("attribute block larger than 4 GiB");
    std::vector<std::uint8_t> block(quillet::kHeaderSize + body_.size());
    std::uint8_t* out = block.data();
    std::copy(std::begin(quillet::kMagic), std::end(quillet::kMagic), out);
    quillet::PutU16(out + 4, quillet::kFormatVersion);
    quillet::PutU16(out + 6, 0);
    quillet::PutU32(out + 8, count_);
    if (!body_.empty()) std::memcpy(out + quillet::kHeaderSize, body_.data(), body_.size());
    return block;
  }

 private:
  QuilletBlockWriter& AddNumber(std::uint32_t id, std::int32_t value) {
    Check(id, quillet::IsNumberType(quillet::TypeOf(id)), "AddInt/AddLong need an int or long id");
    quillet::PutU32(Entry(id, quillet::kNumberPayloadSize), static_cast<std::uint32_t>(value));
    return *this;
  }

  void Check(std::uint32_t id, bool typeFits, const char* typeMessage) const {
    if (quillet::ScopeOf(id) != scope_)
      throw std::invalid_argument("attribute id belongs to another scope than the block");
    if (!typeFits) throw std::invalid_argument(typeMessage);
  }

  // Appends the entry head and room for the payload; returns where the payload goes.
  std::uint8_t* Entry(std::uint32_t id, std::uint32_t length) {
    const std::size_t at = body_.size();
    body_.resize(at + quillet::kEntryHeadSize + length);
    quillet::PutU32(body_.data() + at, id);
    quillet::PutU32(body_.data() + at + 4, length);
    ++count_;
    return body_.data() + at + quillet::kEntryHeadSize;
  }

  std::uint8_t scope_;
  std::uint32_t count_ = 0;
  std::vector<std::uint8_t> body_;
};
