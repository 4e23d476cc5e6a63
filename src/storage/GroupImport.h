// The group import driver: takes chosen groups one after another, locks each, imports
// its documents in order and cleans up as configured.
#pragma once

#include <cstdint>

#include "storage/ImportState.h"
#include "storage/Folder.h"

namespace es {

// Group results.
inline constexpr std::int32_t kGroupDone = 0;
inline constexpr std::int32_t kGroupFailed = 3;
inline constexpr std::int32_t kGroupStopped = 4;
inline constexpr std::int32_t kGroupUnavailable = 13;

// Imports the groups in order and stops at the first whose result is not 0. `names`
// is parallel to `paths`.
void ImportGroups(ImportState& element, const StrArray& paths, const StrArray& names, WindowHandle parent);
std::int32_t ImportGroup(ImportState& element, const Str& groupPath, const Str& groupName, WindowHandle parent);

// True when the group's order file is missing or holds no name.
bool OrderFileNamesNothing(const Folder& group);

}  // namespace es
