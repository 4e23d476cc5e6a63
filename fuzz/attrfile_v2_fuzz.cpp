// Feeds arbitrary bytes to the reader of the current attribute file layout and reads
// everything the document import would: header, document block and every page, each into
// a fresh container. A page read twice must give the same answer.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "Quillet.h"
#include "Tessard.h"
#include "attrs/DocAttrsImport.h"

namespace {

bool ReadPage(es::CDocAttrsImport& reader, std::int32_t index, std::uint32_t* value, std::uint32_t* count) {
  CAttrContainer page(1);
  *value = 0;
  const bool ok = reader.ReadPageAttributes(index, &page, value);
  *count = page.Count();
  return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool silenced = (TessardSetSink(nullptr, nullptr), true);
  (void)silenced;

  es::CDocAttrsImport reader;
  if (!reader.LoadBytes(std::vector<std::uint8_t>(data, data + size))) return 0;
  es::AttrFileHeader header;
  reader.GetHeader(&header);
  if (size < es::kAttrFileHeaderSize) std::abort();

  CAttrContainer document(2);
  std::int32_t pages = 0;
  if (!reader.ReadDocumentAttributes(&document, &pages)) return 0;
  if (pages != header.pageCount) std::abort();
  // Each page record takes at least 8 bytes: more pages than that cannot be in the file.
  const auto last = static_cast<std::int32_t>(std::min<std::int64_t>(pages, static_cast<std::int64_t>(size / 8 + 2)));
  for (std::int32_t i = -1; i <= last; ++i) {
    std::uint32_t value = 0, count = 0;
    const bool ok = ReadPage(reader, i, &value, &count);
    if (ok && (i < 0 || i >= pages)) std::abort();
    std::uint32_t again = 0, againCount = 0;
    if (ReadPage(reader, i, &again, &againCount) != ok || (ok && (again != value || againCount != count)))
      std::abort();
  }
  return 0;
}
