// Reader of the older attribute file layout (0x0100): lists of small typed records for
// the document and for each page, turned into document and page attributes.
#pragma once

#include <cstdint>
#include <vector>

#include "Quillet.h"
#include "attrs/DocAttrsImport.h"
#include "base/Text.h"

namespace es {

// What the document's records carry.
struct DocAttrsV1 {
  Str text0;  // capacity 64: the pile index
  Str text1;  // capacity 256: the barcode
  Str text2;  // capacity 256
  std::uint32_t value = 0;  // the 4-byte value of type 3; not passed on
  std::int32_t pageCount = 0;
};

class CDocAttrsImportV1 : public CAttrFileReader {
 public:
  // Takes the file's contents; `name` names the file in trace lines. False (and nothing
  // kept) when the 16-byte head is missing.
  bool LoadBytes(std::vector<std::uint8_t> bytes, const Str& name = Str());

  // The two 16-bit fields and the 32-bit field at offset 4; the page count is left alone.
  void GetHeader(AttrFileHeader* header) const;
  // The document's records and the page count. Records the file does not hold whole are
  // absent: their texts stay empty.
  bool ReadDocumentAttributes(DocAttrsV1* record);
  // The page's records, with the defaults for what is absent, into `page`; the page value
  // names the page's image file.
  bool ReadPageAttributes(std::int32_t index, CAttrContainer* page, std::uint32_t* pageValue);

 private:
  struct Record {
    std::int16_t type;
    std::uint8_t kind;
    const std::uint8_t* payload;
    std::size_t size;
  };
  // Calls `take` for each record of the list at `offset`; stops at the first record that
  // is not whole inside the file. False when the list ended early.
  template <typename Visit>
  bool WalkList(std::uint64_t offset, std::int32_t count, Visit&& take) const;

};

}  // namespace es
