// Reading a document's attribute file into its document container, and checking the
// number of pages it announces against the page files found in the document folder.
// The file's bytes are read by the caller through the document's folder; the readers
// only parse them.
#pragma once

#include <cstdint>
#include <vector>

#include "Quillet.h"
#include "attrs/DocAttrsImport.h"
#include "attrs/DocAttrsImportV1.h"
#include "storage/ImportState.h"
#include "base/Text.h"

namespace es {

// What the attribute file announced, for the page-count check and for the pre-flight check.
struct AnnouncedPages {
  bool known = false;       // the document's attributes could be read
  std::int32_t count = 0;   // the pages the file announces
};

// With the current reader; `bytes` is null when the file could not be read. False only
// then. After it, the header's version tells which reader holds the pages (0x0200 this
// one, else version 1) and, for 0x0200, its page count is the number of named pages.
bool ReadAttributes(ImportState& element, CDocAttrsImport& reader, const std::vector<std::uint8_t>* bytes,
                    CAttrContainer* document, const Str& folder, std::int32_t pageFileCount, AttrFileHeader* header,
                    AnnouncedPages* announced);

// With the version-1 reader, after ReadAttributes found another version in `header`.
// False when the file is not of version 0x0100. Sets the header's page count and the
// three document texts.
bool ReadAttributesV1(ImportState& element, CDocAttrsImportV1& reader, const std::vector<std::uint8_t>& bytes,
                      CAttrContainer* document, const Str& folder, std::int32_t pageFileCount,
                      AttrFileHeader* header, AnnouncedPages* announced);

}  // namespace es
