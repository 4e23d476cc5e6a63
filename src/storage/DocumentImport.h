// Turns one document folder into pages handed to the host.
#pragma once

#include <cstdint>

#include "frame/Element.h"

namespace es {

// Document results.
inline constexpr std::int32_t kDocumentDone = 0;
inline constexpr std::int32_t kDocumentFailed = 3;
inline constexpr std::int32_t kDocumentStopped = 4;

// What the group driver needs to know of a document beyond its result.
struct DocumentOutcome {
  std::int32_t pagesHandedOver = 0;
  Str damagedPages;  // this document's own damaged entries, joined by ", "
};

// Imports the document in `folder`. A document that hands no page over finishes
// nothing; the first page the host accepts finishes the pending document before it.
std::int32_t ImportDocument(CElement& element, const Str& folder, bool notFirst, DocumentOutcome* outcome);

}  // namespace es
