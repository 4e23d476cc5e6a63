// Turns one document folder into pages handed to the host. The pre-flight check runs the
// same import with a host that only looks at the pages, so that both decide alike what a
// document holds, which pages reach the host and which are damaged.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "storage/ImportState.h"
#include "storage/Folder.h"
#include "storage/Layout.h"
#include "storage/SeenEntry.h"

namespace es {

// How the import of a document ended, with the numbers the group driver knows them by.
enum class DocumentResult : std::int32_t {
  Done = 0,     // processed; also when pages were damaged or nothing was handed over
  Failed = 3,   // "1.pg" cannot be opened, the attribute file is of no known version, the host refused a page
  Stopped = 4,  // the host asked to stop
};

// Something the import found wrong with a document, for reports: a short stable code,
// the path concerned and the reason in words.
struct Finding {
  std::string code;
  Str path;
  Str reason;
};

// At most this many damaged entries are listed for one document; the rest are counted.
inline constexpr std::size_t kDamagedEntriesShown = 100;

// Damaged entries of one document, joined by ", ", with a count of those beyond the limit.
class DamagedList {
 public:
  void Add(const Str& entry);
  void AddMore(long long count) { more_ += count; }
  bool Empty() const { return shown_.empty() && more_ == 0; }
  Str Text() const;

 private:
  StrArray shown_;
  long long more_ = 0;
};

// What the group driver and the pre-flight check need to know of a document beyond its
// result.
struct DocumentOutcome {
  std::int32_t pagesHandedOver = 0;
  Str damagedPages;  // this document's own damaged entries, joined by ", "
  // Kept without a report: something in the folder could not be read, or was in the way
  // (traced). Nothing of it is deleted this time.
  bool keep = false;
  SeenEntries entries;  // what the import saw in the folder: only these may be deleted
  // Marked as delivered by an earlier scan whose delete was cut short: nothing of it is
  // handed over, and it goes like a document that held nothing.
  bool delivered = false;
  // How the import read the document.
  layout::DocumentKind kind = layout::DocumentKind::SingleFile;
  bool attributesRead = false;
  std::uint16_t attributeVersion = 0;
  bool announcedKnown = false;
  std::int32_t announcedPages = 0;
  std::int32_t pageFileCount = 0;
  std::vector<Finding> findings;
};

// Imports the document `name` of the open group folder. A document that hands no page
// over finishes nothing; the first page the host accepts finishes the pending document
// before it.
DocumentResult ImportDocument(ImportState& element, const Folder& group, const Str& name, bool notFirst,
                            DocumentOutcome* outcome);

}  // namespace es
