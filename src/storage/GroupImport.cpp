#include "storage/GroupImport.h"

#include <vector>

#include "ResourceIds.h"
#include "base/Trace.h"
#include "platform/Platform.h"
#include "storage/Cleanup.h"
#include "storage/DocumentImport.h"
#include "storage/File.h"
#include "storage/Folder.h"
#include "storage/Layout.h"
#include "storage/Listing.h"

namespace es {

namespace {

// A producer may write the lock file first and its documents a moment later: a group
// that looks empty is cleaned up only once its lock file is this old.
constexpr std::int64_t kEmptyGroupAgeSeconds = 60;

// The group folder the import works through, for as long as the group is in hand.
class GroupInHand {
 public:
  GroupInHand(ImportState& element, const Folder& group) : element_(element) { element_.groupFolder = &group; }
  ~GroupInHand() {
    element_.groupFolder = nullptr;
    element_.pendingEntries.clear();
    element_.pendingKeep = false;
  }
  GroupInHand(const GroupInHand&) = delete;
  GroupInHand& operator=(const GroupInHand&) = delete;

 private:
  ImportState& element_;
};

bool LockFileIsOld(const Folder& group) {
  platform::EntryInfo info;
  Failure why;
  if (!group.Stat(layout::kLockFile, &info, &why)) return false;
  return platform::Os().UnixTime() - info.modified >= kEmptyGroupAgeSeconds;
}

}  // namespace

void ImportGroups(ImportState& element, const StrArray& paths, const StrArray& names, WindowHandle parent) {
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const Str name = i < names.size() ? names[i] : Str();
    if (ImportGroup(element, paths[i], name, parent) != GroupResult::Done) return;
  }
}

GroupResult ImportGroup(ImportState& element, const Str& groupPath, const Str& groupName, WindowHandle parent) {
  element.parentWindow = parent;
  element.lastPageName.clear();
  element.damagedPages.clear();
  element.damagedHeader.clear();
  element.pendingDocumentName.clear();
  element.orderFilePath = layout::OrderFilePath(groupPath);
  element.groupPath = groupPath;

  // Opened once, never through a link: a group swapped for a link is not a group.
  const Folder group = Folder::Open(groupPath);
  // Held without sharing for the whole group: no other importer can take it meanwhile.
  File lock(group, layout::kLockFile, platform::Access::Read, platform::Share::None);
  if (!lock.IsOpen()) {
    const Failure why = group.IsOpen() ? lock.OpenFailure() : group.OpenFailure();
    if (!why.IsAbsence()) TraceSkippedEntry(group.IsOpen() ? group.PathOf(layout::kLockFile) : groupPath, why, __LINE__);
    ShowWarning(element.callback, element.parentWindow, IDS_GROUP_NOT_AVAILABLE, __LINE__);
    return GroupResult::Unavailable;
  }
  const GroupInHand inHand(element, group);
  RecoverOrderFile(element);

  // The documents in import order, and the group's own files its clean-up may delete.
  // A group that cannot be read whole is left as it is for this scan.
  std::vector<platform::FolderEntry> entries;
  Failure why;
  if (!group.List(&entries, &why)) {
    TraceTrouble(groupPath, why, __LINE__);
    return GroupResult::Done;
  }
  StrArray documents;
  SeenEntries groupFiles;
  for (auto& entry : entries) {
    if (entry.type == EntryType::Folder) {
      documents.push_back(std::move(entry.name));
      continue;
    }
    if (entry.type == EntryType::Link) TraceSkippedEntry(group.PathOf(entry.name), Failure::Of(Error::IsLink), __LINE__);
    SeenEntry seen{std::move(entry.name), {}};
    if (group.Stat(seen.name, &seen.info, &why)) groupFiles.push_back(std::move(seen));
  }
  Str orderText;
  if (!ReadOrderText(group, &orderText, &why)) {
    TraceTrouble(group.PathOf(layout::kOrderFile), why, __LINE__);
    return GroupResult::Done;
  }
  OrderByOrderText(orderText, documents);

  bool documentKept = false;
  bool finishedDelivered = false;  // an earlier scan delivered from this group: no producer is filling it
  for (std::size_t i = 0; i < documents.size(); ++i) {
    const Str& name = documents[i];
    DocumentOutcome outcome;
    const DocumentResult result = ImportDocument(element, group, name, i > 0, &outcome);
    const Str header = DamagedHeader(name, groupName);
    const bool stays = !outcome.damagedPages.empty() || outcome.keep;
    if (outcome.pagesHandedOver > 0) {
      element.damagedHeader = header;
      element.pendingDocumentName = name;
      element.pendingEntries = std::move(outcome.entries);
      element.pendingKeep = outcome.keep;
    } else if (result == DocumentResult::Done) {
      // Nothing of it reached the host, so the document before it stays the one to
      // finish. With damaged pages it is reported under its own name and kept; without,
      // it held nothing to import and goes at once.
      if (!outcome.damagedPages.empty()) ReportDamagedPages(element, header, outcome.damagedPages);
      if (!stays) {
        RemoveOrderEntry(element, element.orderFilePath, name);
        DeleteDocumentFolder(element, name, outcome.entries);
      }
    }
    if (stays) documentKept = true;
    if (outcome.delivered) finishedDelivered = true;
    if (result != DocumentResult::Done) return static_cast<GroupResult>(result);  // Failed or Stopped alike
  }

  if (!element.lastPageName.empty()) FinishDocument(element);
  // The group is cleaned up when a page reached the host, now or in the scan whose delete
  // was cut short, and also when nothing is left in it (a clean-up that was interrupted is
  // completed by the next scan), unless a producer may still be filling it.
  const bool emptied = element.lastPageName.empty() && !HasSubfolders(group) && OrderFileNamesNothing(group) &&
                       LockFileIsOld(group);
  if ((!element.lastPageName.empty() || finishedDelivered || emptied) && element.DeleteFaxes != 0) {
    lock.Close();
    // The order file stays while a kept document still needs its place in it.
    if (!documentKept && !group.DeleteFile(layout::kOrderFile, &why) && !why.IsAbsence())
      Trace(kSevError, kSourceFrame, __LINE__, IDS_CANNOT_DELETE_FILE, element.orderFilePath.c_str());
    if (element.DeleteGroupFolder != 0) DeleteGroupFolder(element, group, groupFiles);
  }
  return GroupResult::Done;
}

bool OrderFileNamesNothing(const Folder& group) {
  Str text;
  Failure why;
  if (!ReadOrderText(group, &text, &why)) return false;
  for (char16_t c : text)
    if (c != u'\r' && c != u'\n' && c != u' ' && c != u'\t') return false;
  return true;
}

}  // namespace es
