#include "attrs/AttrFileReader.h"

#include <utility>

#include "base/Trace.h"

namespace es {

bool CAttrFileReader::Keep(std::vector<std::uint8_t> bytes, const Str& name, std::size_t headSize,
                           const char16_t* part) {
  name_ = name;
  buffer_.clear();
  if (bytes.size() < headSize) {
    Trace(kSevError, kSourceAttributes, __LINE__, u"Attribute file '%s' is too short for its %s (%d bytes).",
          name_.c_str(), part, static_cast<int>(bytes.size()));
    return false;
  }
  buffer_ = std::move(bytes);
  return true;
}

void CAttrFileReader::ReadFirstFields(AttrFileHeader* header) const {
  if (buffer_.size() < kAttrFileHeaderSize) return;
  header->field0 = attrbytes::U16(buffer_.data());
  header->version = attrbytes::U16(buffer_.data() + 2);
  header->field4 = attrbytes::U32(buffer_.data() + 4);
}

}  // namespace es
