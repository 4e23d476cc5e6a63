// Reader of a document's attribute file "SC_ATTR.BIN" in its current layout (0x0200):
// a 16-byte head, the serialized document container, then one record per page.
#pragma once

#include <cstdint>
#include <vector>

#include "Quillet.h"
#include "frame/Object.h"
#include "frame/Text.h"

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

// One reader serves one document: read the file once, then the header, the document
// and each page.
class CDocAttrsImport : public CObject {
 public:
  CDocAttrsImport() = default;
  ~CDocAttrsImport() override = default;
  CDocAttrsImport(const CDocAttrsImport&) = delete;
  CDocAttrsImport& operator=(const CDocAttrsImport&) = delete;

  // Reads the whole file, opened without sharing. True only when all of it arrived and
  // its head is whole (see LoadBytes).
  bool ReadAttributeFile(const Str& path);
  // Takes the file's contents. False (and nothing kept) when the 12-byte header is
  // missing, or when a file of this layout lacks its 16-byte head or its document block.
  bool LoadBytes(std::vector<std::uint8_t> bytes);

  // The first 12 bytes; zeros when nothing was loaded.
  void GetHeader(AttrFileHeader* header) const;
  // The page count at offset 8 and the document block into `document`. A block the
  // container library refuses is traced and leaves the container as the library left it.
  bool ReadDocumentAttributes(CAttrContainer* document, std::int32_t* pageCount);
  // The block of page `index` into `page`, and that page's value.
  bool ReadPageAttributes(std::int32_t index, CAttrContainer* page, std::uint32_t* pageValue);
  // Bytes read from the file; every page record takes at least 8 of them.
  std::size_t FileSize() const { return buffer_.size(); }

 private:
  bool HasBody() const;
  std::int32_t PageCount() const;
  std::uint32_t DocumentSize() const;
  // Finds the record of page `index`, walking the records before it once and
  // remembering where each began.
  bool LocatePage(std::int32_t index, std::size_t* offset);
  bool LoadBlock(CAttrContainer* container, std::size_t offset, std::uint32_t size);

  Str path_;  // for trace lines; empty when the bytes were handed in
  std::vector<std::uint8_t> buffer_;
  std::vector<std::size_t> pageOffsets_;  // start of each page record found so far
  bool reportedShortFile_ = false;
};

}  // namespace es
