// Reading a document's attribute file into its document container, and checking the
// number of pages it announces against the page files found in the document folder.
#pragma once

#include <cstdint>

#include "Quillet.h"
#include "attrs/DocAttrsImport.h"
#include "attrs/DocAttrsImportV1.h"
#include "frame/Element.h"
#include "frame/Text.h"

namespace es {

// With the current reader. False only when the file cannot be read. After it, the
// header's version tells which reader holds the pages (0x0200 this one, else version 1)
// and, for 0x0200, its page count is the number of named pages.
bool ReadAttributes(CElement& element, CDocAttrsImport& reader, const Str& attrPath, CAttrContainer* document,
                    const Str& folder, std::int32_t pageFileCount, AttrFileHeader* header);

// With the version-1 reader, after ReadAttributes found another version in `header`.
// False when the file cannot be read or is not of version 0x0100. Sets the header's page
// count and the three document texts.
bool ReadAttributesV1(CElement& element, CDocAttrsImportV1& reader, const Str& attrPath, CAttrContainer* document,
                      const Str& folder, std::int32_t pageFileCount, AttrFileHeader* header);

}  // namespace es
