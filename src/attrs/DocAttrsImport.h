// Reader of a document's attribute file "SC_ATTR.BIN" in its current layout (0x0200):
// a 16-byte head, the serialized document container, then one record per page.
#pragma once

#include <cstdint>
#include <vector>

#include "Quillet.h"
#include "attrs/AttrFileReader.h"
#include "base/Text.h"

namespace es {

// One reader serves one document: read the file once, then the header, the document
// and each page.
class CDocAttrsImport : public CAttrFileReader {
 public:
  // Takes the file's contents; `name` names the file in trace lines. False (and nothing
  // kept) when the 12-byte header is missing, or when a file of this layout lacks its
  // 16-byte head or its document block.
  bool LoadBytes(std::vector<std::uint8_t> bytes, const Str& name = Str());

  // The first 12 bytes; zeros when nothing was loaded.
  void GetHeader(AttrFileHeader* header) const;
  // The page count at offset 8 and the document block into `document`. A block the
  // container library refuses is traced and leaves the container as the library left it.
  bool ReadDocumentAttributes(CAttrContainer* document, std::int32_t* pageCount);
  // The block of page `index` into `page`, and that page's value.
  bool ReadPageAttributes(std::int32_t index, CAttrContainer* page, std::uint32_t* pageValue);

 private:
  bool HasBody() const;
  std::int32_t PageCount() const;
  std::uint32_t DocumentSize() const;
  // Finds the record of page `index`, walking the records before it once and
  // remembering where each began.
  bool LocatePage(std::int32_t index, std::size_t* offset);
  bool LoadBlock(CAttrContainer* container, std::size_t offset, std::uint32_t size);

  std::vector<std::size_t> pageOffsets_;  // start of each page record found so far
  bool reportedShortFile_ = false;
};

}  // namespace es
