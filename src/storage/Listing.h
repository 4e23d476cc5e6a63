// Which sub-folders a folder has, in the order its order file gives them, and which
// groups of a storage are available with their group names.
#pragma once

#include <cstddef>

#include "base/Text.h"
#include "storage/Folder.h"

namespace es {

// The real sub-folders of an open folder, appended in listing order. Links and other
// entries are never folders here; with `traceSkipped` a link is traced at severity 2.
// False (with the reason) when the folder could not be listed.
bool ListFolders(const Folder& folder, StrArray& names, bool traceSkipped, Failure* failure);
// The text of the folder's "Doc_Order.txt", empty when it is missing, empty, too large or
// no regular file. False when it may be there but could not be read (an I/O error).
bool ReadOrderText(const Folder& folder, Str* text, Failure* failure);
// Reorders `folders` by the lines of an order file's text.
void OrderByOrderText(const Str& text, StrArray& folders);
// Trace lines for an entry that is not used (a link, no regular file) and for one that
// could not be read.
void TraceSkippedEntry(const Str& path, const Failure& why, int line);
void TraceTrouble(const Str& path, const Failure& why, int line);

// Appends the sub-folder names (never "." or "..") of the folder that `pattern` lists
// (a folder, a separator and "*.*"; a storage directory, which may itself be a link),
// without clearing `folders` first, then reorders the
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
// The same below an open storage folder. A group folder or lock file that is a link makes
// the group unavailable (traced).
bool ReadGroupLock(const Folder& storage, const Str& folder, Str& groupName);

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
