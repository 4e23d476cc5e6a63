// Feeds arbitrary bytes to the reader of the version-1 attribute file layout and reads
// everything the document import would: header, document records and every page, each
// into a fresh container. Every page read must carry the full set of page attributes.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "Quillet.h"
#include "Tessard.h"
#include "attrs/DocAttrsImportV1.h"

namespace {

// Every attribute a version-1 page is given, whatever its records hold.
constexpr std::uint32_t kPageAttributes = 18;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool silenced = (TessardSetSink(nullptr, nullptr), true);
  (void)silenced;

  es::CDocAttrsImportV1 reader;
  if (!reader.LoadBytes(std::vector<std::uint8_t>(data, data + size))) return 0;
  es::AttrFileHeader header;
  reader.GetHeader(&header);

  es::DocAttrsV1 record;
  if (!reader.ReadDocumentAttributes(&record)) std::abort();  // a loaded file always has its head
  if (record.text0.size() > 63 || record.text1.size() > 255 || record.text2.size() > 255) std::abort();
  const auto last =
      static_cast<std::int32_t>(std::min<std::int64_t>(record.pageCount, static_cast<std::int64_t>(size / 8 + 2)));
  for (std::int32_t i = -1; i <= last; ++i) {
    CAttrContainer page(1);
    std::uint32_t value = 0;
    const bool ok = reader.ReadPageAttributes(i, &page, &value);
    if (ok && (i < 0 || i >= record.pageCount || page.Count() != kPageAttributes)) std::abort();
    if (!ok && page.Count() != 0) std::abort();
  }
  return 0;
}
