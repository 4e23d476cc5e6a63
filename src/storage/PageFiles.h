// Small operations on a document folder's page files.
#pragma once

#include <cstdint>

#include "storage/ImportState.h"

class CAttrContainer;

namespace es {

class File;

// True when the open file is at least 5 bytes long and its next four bytes are "%PDF".
bool IsPdfFile(File& file);
// Removes the first entry equal to `name` without regard to case; `name` is left
// upper-cased.
void RemoveFromList(Str& name, StrArray& list);
// The attributes of a page from a page file no attribute-file page names.
void SetExtraPageAttributes(ImportState& element, std::int32_t pageNumber, CAttrContainer* page);
// Hands one page to the host: `refused` when not accepted, `stop` when refused or the
// host asks to stop. The containers become the host's.
void HandOverPage(ImportState& element, CAttrContainer* page, std::uint64_t image, std::uint32_t imageSize,
                  CAttrContainer* document, bool* refused, bool* stop);

}  // namespace es
