#include "storage/AttributeReading.h"

#include "ResourceIds.h"
#include "attrs/AttributeIds.h"
#include "storage/Layout.h"
#include "base/Trace.h"

namespace es {

namespace {

// A mismatch between announced and found pages is reported and never stops the import:
// the details go to the trace, the warning to the user (or the trace when unattended).
void CheckPageCount(ImportState& element, std::int32_t announced, std::int32_t found, const Str& folder) {
  if (announced > found) {
    Trace(kSevError, kSourceFrame, __LINE__, static_cast<std::uint32_t>(IDS_LESS_PAGES_DETAIL),
          static_cast<int>(announced), static_cast<int>(found), folder.c_str());
    ShowWarning(element.callback, element.parentWindow, IDS_LESS_PAGES, __LINE__);
  } else if (announced < found) {
    Trace(kSevError, kSourceFrame, __LINE__, static_cast<std::uint32_t>(IDS_MORE_PAGES_DETAIL),
          static_cast<int>(announced), static_cast<int>(found), folder.c_str());
    ShowWarning(element.callback, element.parentWindow, IDS_MORE_PAGES, __LINE__);
  }
}

}  // namespace

bool ReadAttributes(ImportState& element, CDocAttrsImport& reader, const std::vector<std::uint8_t>* bytes,
                    CAttrContainer* document, const Str& folder, std::int32_t pageFileCount, AttrFileHeader* header,
                    AnnouncedPages* announced) {
  *announced = AnnouncedPages{};
  if (bytes == nullptr || !reader.LoadBytes(*bytes, layout::AttributeFilePath(folder))) return false;
  reader.GetHeader(header);
  // Another version: the caller reads the file again as version 1.
  if (header->version != kAttrFileVersion2) return true;
  std::int32_t count = 0;
  if (!reader.ReadDocumentAttributes(document, &count)) return true;
  *announced = AnnouncedPages{true, count};
  CheckPageCount(element, count, pageFileCount, folder);
  return true;
}

bool ReadAttributesV1(ImportState& element, CDocAttrsImportV1& reader, const std::vector<std::uint8_t>& bytes,
                      CAttrContainer* document, const Str& folder, std::int32_t pageFileCount,
                      AttrFileHeader* header, AnnouncedPages* announced) {
  *announced = AnnouncedPages{};
  if (!reader.LoadBytes(bytes, layout::AttributeFilePath(folder))) return false;
  // The page count keeps what the current reader left there until the records give theirs.
  reader.GetHeader(header);
  if (header->version != kAttrFileVersion1) return false;
  DocAttrsV1 record;
  if (!reader.ReadDocumentAttributes(&record)) return true;
  *announced = AnnouncedPages{true, record.pageCount};
  CheckPageCount(element, record.pageCount, pageFileCount, folder);
  header->pageCount = record.pageCount;
  // Empty texts too: the host sees the document's fields as the file had them.
  document->SetAttr(attrs::kDocPileIndex, record.text0.c_str(), 0);
  document->SetAttr(attrs::kDocBarcode, record.text1.c_str(), 0);
  document->SetAttr(attrs::kDocText2, record.text2.c_str(), 0);
  return true;
}

}  // namespace es
