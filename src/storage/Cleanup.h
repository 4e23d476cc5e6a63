// What happens to a document once the host has taken it: its damaged pages are reported
// and it stays, or its order-file line and its folder go. Governed by the element's
// DeleteFaxes ("Delete images") and DeleteGroupFolder switches. Everything is done
// through the group folder the import opened, and only what the import saw is deleted.
#pragma once

#include "storage/ImportState.h"
#include "storage/Folder.h"
#include "storage/SeenEntry.h"

namespace es {

// Finishes the pending document of the group in hand (no-op when there is none).
void FinishDocument(ImportState& element);
// Shows the damaged-pages message for `header` and `pages` (the element's own when
// called without them).
void ReportDamagedPages(ImportState& element);
void ReportDamagedPages(ImportState& element, const Str& header, const Str& pages);
// The first line of the damaged-pages message for a document of a group.
Str DamagedHeader(const Str& documentName, const Str& groupName);
// Removes the document's line from the order file of the group in hand; true also when
// nothing had to be done. `orderFilePath` names the file in trace lines.
bool RemoveOrderEntry(ImportState& element, const Str& orderFilePath, const Str& name);
// Takes back an order file whose rewrite was interrupted: the backup holds the last
// complete version. Only with deletion on: with it off nothing in a storage is written.
void RecoverOrderFile(ImportState& element);
// Deletes document folder `name` of the group in hand: the entries its import saw, as
// long as they are what it saw, then the folder. A file that appeared or changed since
// keeps the folder (traced).
void DeleteDocumentFolder(ImportState& element, const Str& name, const SeenEntries& seen);
// Deletes the group folder once no document folder is left in it: the files seen in it
// when its import began (the lock file last), then the folder itself.
void DeleteGroupFolder(ImportState& element, const Folder& group, const SeenEntries& seen);
// Whether the folder holds a real sub-folder; also true when it cannot be listed, so that
// nothing is deleted on an error.
bool HasSubfolders(const Folder& folder);

}  // namespace es
