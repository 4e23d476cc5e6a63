#include "storage/GroupImport.h"

#include "ResourceIds.h"
#include "frame/Trace.h"
#include "platform/Platform.h"
#include "storage/Cleanup.h"
#include "storage/DocumentImport.h"
#include "storage/File.h"
#include "storage/Layout.h"
#include "storage/Listing.h"

namespace es {

void ImportGroups(CElement& element, const StrArray& paths, const StrArray& names, WindowHandle parent) {
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const Str name = i < names.size() ? names[i] : Str();
    if (ImportGroup(element, paths[i], name, parent) != kGroupDone) return;
  }
}

std::int32_t ImportGroup(CElement& element, const Str& groupPath, const Str& groupName, WindowHandle parent) {
  element.parentWindow = parent;
  element.lastPageName.clear();
  element.damagedPages.clear();
  element.damagedHeader.clear();
  element.pendingDocumentName.clear();
  element.orderFilePath = layout::OrderFilePath(groupPath);
  element.groupPath = groupPath;

  // Held without sharing for the whole group: no other importer can take it meanwhile.
  File lock(layout::LockFilePath(groupPath), platform::Access::Read, platform::Share::None);
  if (!lock.IsOpen()) {
    ShowWarning(element.callback, element.parentWindow, IDS_GROUP_NOT_AVAILABLE, __LINE__);
    return kGroupUnavailable;
  }
  RecoverOrderFile(element.orderFilePath);

  StrArray documents;
  ListSubFolders(layout::ListingPattern(groupPath), documents);
  bool documentKept = false;
  for (std::size_t i = 0; i < documents.size(); ++i) {
    const Str& name = documents[i];
    DocumentOutcome outcome;
    const std::int32_t result = ImportDocument(element, layout::DocumentFolderPath(groupPath, name), i > 0, &outcome);
    const Str header = DamagedHeader(name, groupName);
    if (outcome.pagesHandedOver > 0) {
      element.damagedHeader = header;
      element.pendingDocumentName = name;
    } else if (result == kDocumentDone) {
      // Nothing of it reached the host, so the document before it stays the one to
      // finish. With damaged pages it is reported under its own name and kept; without,
      // it held nothing to import and goes at once.
      if (!outcome.damagedPages.empty()) {
        documentKept = true;
        ReportDamagedPages(element, header, outcome.damagedPages);
      } else {
        RemoveOrderEntry(element, element.orderFilePath, name);
        DeleteFolder(element, layout::DocumentFolderPath(groupPath, name), FolderMode::Document);
      }
    }
    if (!outcome.damagedPages.empty() && outcome.pagesHandedOver > 0) documentKept = true;
    if (result != kDocumentDone) return result;
  }

  if (!element.lastPageName.empty()) FinishDocument(element);
  // The group is cleaned up when a page reached the host, and also when nothing is left
  // in it: a clean-up that was interrupted is completed by the next scan.
  if (!element.lastPageName.empty() || (!HasSubfolders(groupPath) && OrderFileNamesNothing(element.orderFilePath))) {
    if (element.DeleteFaxes != 0) {
      lock.Close();
      // The order file stays while a kept document still needs its place in it.
      std::uint32_t attributes = 0;
      if (!documentKept && platform::Os().GetAttributes(element.orderFilePath, &attributes)) {
        platform::Error error = platform::Error::None;
        if (!platform::Os().DeleteFile(element.orderFilePath, &error))
          Trace(kSevError, kSourceFrame, __LINE__, IDS_CANNOT_DELETE_FILE, element.orderFilePath.c_str());
      }
      if (element.DeleteGroupFolder != 0) DeleteFolder(element, groupPath, FolderMode::Group);
    }
  }
  return kGroupDone;
}

bool OrderFileNamesNothing(const Str& orderFilePath) {
  File file(orderFilePath, platform::Access::Read, platform::Share::Read);
  if (!file.IsOpen()) return true;
  std::vector<std::uint8_t> bytes;
  if (!file.ReadAll(&bytes, layout::kTextFileLimit)) return false;
  for (std::uint8_t b : bytes)
    if (b != '\r' && b != '\n' && b != ' ' && b != '\t') return false;
  return true;
}

}  // namespace es
