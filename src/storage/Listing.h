// Which sub-folders a folder has, in the order its order file gives them, and which
// groups of a storage are available with their group names.
#pragma once

#include <cstddef>

#include "frame/Text.h"

namespace es {

// Appends the sub-folder names (never "." or "..") of the folder that `pattern` lists
// (a folder, a separator and "*.*"), without clearing `folders` first, then reorders the
// whole array by the folder's "Doc_Order.txt": each line takes the first remaining entry
// equal to it (case-sensitive), in line order; the entries no line took follow in their
// order. A missing, empty or unreadable order file leaves the order as it is.
void ListSubFolders(const Str& pattern, StrArray& folders);

// Cuts the next line off `text`; lines end in CR LF only. False when `text` was empty.
bool TakeLine(Str& line, Str& text);

// Whether the group in `storageDir`\`folder` is available, and its group name: the lock
// file's text before its first CR (unless the CR comes first). A missing lock file, one
// that another opener holds without sharing, or one of 1024 bytes or more makes the group
// unavailable; one that cannot be read leaves it available with an empty name.
bool ReadGroupLock(const Str& storageDir, const Str& folder, Str& groupName);

// The available groups of a storage in listing order: parallel arrays of folder names and
// group names (both replaced).
void DiscoverGroups(const Str& storageDir, StrArray& folders, StrArray& groupNames);

namespace listing {

// One step of the CR LF line splitter over `text` from `*pos`: false at the end.
// TakeLine and the order-file reading share it, so both cut lines the same way.
bool NextLine(StrView text, std::size_t* pos, StrView* line);

// Reorders `folders` by `lines`, as ListSubFolders does with the lines of an order file.
// Takes time linear in the sizes of both, whatever their length.
void OrderByLines(const std::vector<StrView>& lines, StrArray& folders);

}  // namespace listing

}  // namespace es
