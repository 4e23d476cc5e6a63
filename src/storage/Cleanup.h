// What happens to a document once the host has taken it: its damaged pages are reported
// and it stays, or its order-file line and its folder go. Governed by the element's
// DeleteFaxes ("Delete images") and DeleteGroupFolder switches.
#pragma once

#include "frame/Element.h"

namespace es {

enum class FolderMode { Document, Group };

// Finishes the pending document of the group in hand (no-op when there is none).
void FinishDocument(CElement& element);
// Shows the damaged-pages message for `header` and `pages` (the element's own when
// called without them).
void ReportDamagedPages(CElement& element);
void ReportDamagedPages(CElement& element, const Str& header, const Str& pages);
// The first line of the damaged-pages message for a document of a group.
Str DamagedHeader(const Str& documentName, const Str& groupName);
// Removes the document's line from the order file; true also when nothing had to be done.
bool RemoveOrderEntry(CElement& element, const Str& orderFilePath, const Str& name);
// Takes back an order file whose rewrite was interrupted: the backup holds the last
// complete version.
void RecoverOrderFile(const Str& orderFilePath);
void DeleteFolder(CElement& element, const Str& path, FolderMode mode);
bool HasSubfolders(const Str& path);

}  // namespace es
