// The group import driver: takes chosen groups one after another, locks each, imports
// its documents in order and cleans up as configured.
#pragma once

#include <cstdint>

#include "storage/ImportState.h"
#include "storage/Folder.h"

namespace es {

// How the import of a group ended, with the numbers of the document results it shares.
enum class GroupResult : std::int32_t {
  Done = 0,          // processed; also when nothing in it could be imported
  Failed = 3,        // a document failed: the group stops there
  Stopped = 4,       // the host asked to stop
  Unavailable = 13,  // its lock file could not be opened without sharing
};

// Imports the groups in order and stops at the first whose result is not 0. `names`
// is parallel to `paths`.
void ImportGroups(ImportState& element, const StrArray& paths, const StrArray& names, WindowHandle parent);
GroupResult ImportGroup(ImportState& element, const Str& groupPath, const Str& groupName, WindowHandle parent);

// True when the group's order file is missing or holds no name.
bool OrderFileNamesNothing(const Folder& group);

}  // namespace es
