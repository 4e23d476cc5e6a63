// An entry of a document or group folder as the import saw it. Finishing deletes only
// what was seen, and only while it is still the same: a file a producer added or
// replaced after the import read the folder keeps the folder.
#pragma once

#include <vector>

#include "base/Text.h"
#include "platform/Platform.h"

namespace es {

struct SeenEntry {
  Str name;
  platform::EntryInfo info;
};

using SeenEntries = std::vector<SeenEntry>;

// Whether `now` is still the entry that was seen.
inline bool SameEntry(const platform::EntryInfo& seen, const platform::EntryInfo& now) {
  return seen.type == now.type && seen.fileId == now.fileId && seen.size == now.size &&
         seen.modified == now.modified;
}

}  // namespace es
