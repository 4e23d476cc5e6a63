#include "storage/Cleanup.h"

#include <algorithm>
#include <vector>

#include "ResourceIds.h"
#include "frame/ModuleState.h"
#include "frame/Trace.h"
#include "platform/Platform.h"
#include "storage/File.h"
#include "storage/Layout.h"
#include "storage/TextMode.h"

namespace es {

using platform::Os;

namespace {

Str LoadModuleString(std::uint32_t id) {
  char16_t buffer[1024] = {};
  Os().LoadString(CurrentModuleState()->resources, id, buffer, 1024);
  return buffer;
}

bool Exists(const Str& path) {
  std::uint32_t attributes = 0;
  return Os().GetAttributes(path, &attributes);
}

}  // namespace

Str DamagedHeader(const Str& documentName, const Str& groupName) {
  // "%s %s %s %c%s%c %s%c"
  return LoadModuleString(IDS_DAMAGED_FROM_DOCUMENT) + u" " + documentName + u" " +
         LoadModuleString(IDS_DAMAGED_FROM_GROUP) + u" \"" + groupName + u"\" " +
         LoadModuleString(IDS_DAMAGED_ARE_DAMAGED) + u"\n";
}

void ReportDamagedPages(CElement& element, const Str& header, const Str& pages) {
  Str text = header + pages;
  if (element.DeleteFaxes != 0) text += u"\n" + LoadModuleString(IDS_DOCUMENT_NOT_DELETED);
  // Shown in unattended runs too: a kept document needs a person to look at it.
  MessageBoxText(element.parentWindow, text.c_str(), kErrorIconStyle);
}

void ReportDamagedPages(CElement& element) { ReportDamagedPages(element, element.damagedHeader, element.damagedPages); }

void FinishDocument(CElement& element) {
  // A group's first document has no predecessor; an empty name would name the group
  // folder itself.
  if (element.pendingDocumentName.empty()) return;
  const Str name = element.pendingDocumentName;
  element.pendingDocumentName.clear();
  if (!element.damagedPages.empty()) {
    ReportDamagedPages(element);
    element.damagedPages.clear();
    return;
  }
  RemoveOrderEntry(element, element.orderFilePath, name);
  DeleteFolder(element, JoinAlways(element.groupPath, name), FolderMode::Document);
}

void RecoverOrderFile(const Str& orderFilePath) {
  const Str backup = layout::OrderBackupPath(orderFilePath);
  if (!Exists(backup)) return;
  // The backup is the last complete order file; what stands beside it may be a rewrite
  // that never finished.
  platform::Error error = platform::Error::None;
  if (Exists(orderFilePath) && !Os().DeleteFile(orderFilePath, &error)) return;
  Os().MoveFile(backup, orderFilePath, &error);
}

bool RemoveOrderEntry(CElement& element, const Str& orderFilePath, const Str& name) {
  if (element.DeleteFaxes == 0) return true;
  auto& os = Os();
  platform::Error error = platform::Error::None;
  const Str backup = layout::OrderBackupPath(orderFilePath);
  os.DeleteFile(backup, &error);
  os.MoveFile(orderFilePath, backup, &error);

  File output(orderFilePath, platform::Access::Write, platform::Share::None, platform::Disposition::CreateAlways);
  if (!output.IsOpen()) {
    os.MoveFile(backup, orderFilePath, &error);
    return false;
  }
  File input(backup, platform::Access::Read, platform::Share::Read);
  if (!input.IsOpen()) {
    output.Close();
    // A group without an order file ends up with an empty one. When a backup is there
    // but cannot be read, the previous file comes back instead of the empty one.
    if (Exists(backup)) {
      os.DeleteFile(orderFilePath, &error);
      os.MoveFile(backup, orderFilePath, &error);
    }
    return false;
  }

  auto fail = [&]() {
    input.Close();
    output.Close();
    os.DeleteFile(orderFilePath, &error);
    os.MoveFile(backup, orderFilePath, &error);
    return false;
  };

  std::string nameBytes;
  if (!os.Utf16ToAnsi(name, &nameBytes)) return fail();
  std::vector<std::uint8_t> raw;
  if (!input.ReadAll(&raw, layout::kTextFileLimit)) return fail();
  const std::vector<std::uint8_t> text = DecodeTextMode(raw);

  // Only a line equal to the document's name, whole and byte for byte, goes: document
  // D1 never takes the line of D10 with it.
  std::vector<std::uint8_t> kept;
  kept.reserve(text.size());
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = start;
    while (end < text.size() && text[end] != '\n') ++end;
    const bool hasFeed = end < text.size();
    const std::size_t length = end - start;
    const bool same = length == nameBytes.size() &&
                      std::equal(nameBytes.begin(), nameBytes.end(), text.begin() + static_cast<std::ptrdiff_t>(start));
    if (!same) kept.insert(kept.end(), text.begin() + static_cast<std::ptrdiff_t>(start),
                           text.begin() + static_cast<std::ptrdiff_t>(end + (hasFeed ? 1 : 0)));
    start = end + 1;
  }
  const std::vector<std::uint8_t> bytes = EncodeTextMode(kept);
  if (!output.Write(bytes.data(), bytes.size())) return fail();
  input.Close();
  output.Close();
  os.DeleteFile(backup, &error);
  return true;
}

bool HasSubfolders(const Str& path) {
  bool found = false;
  Os().Enumerate(layout::ListingPattern(path), [&](const platform::DirEntry& entry) {
    if (entry.isDirectory && entry.name != u"." && entry.name != u"..") {
      found = true;
      return false;
    }
    return true;
  });
  return found;
}

void DeleteFolder(CElement& element, const Str& path, FolderMode mode) {
  if (element.DeleteFaxes == 0) return;
  auto& os = Os();
  if (mode == FolderMode::Group) {
    if (HasSubfolders(path)) return;
    os.SetAttributes(layout::LockFilePath(path), platform::kAttrNormal);
  }
  StrArray names;
  os.Enumerate(layout::ListingPattern(path), [&](const platform::DirEntry& entry) {
    if (entry.name != u"." && entry.name != u"..") names.push_back(entry.name);
    return true;
  });
  // The order of deletion keeps an interrupted clean-up recoverable: a document's
  // attribute file goes first, so that pages left behind are imported again as extra
  // pages rather than reported as missing; a group's lock file goes last, so that the
  // next scan still finds the group and finishes it.
  std::stable_partition(names.begin(), names.end(), [](const Str& n) { return EqualsNoCase(n, layout::kAttributeFile); });
  if (mode == FolderMode::Group) {
    std::stable_partition(names.begin(), names.end(), [](const Str& n) { return !EqualsNoCase(n, layout::kLockFile); });
  }
  // Sub-folders are not entered: deleting one fails and is reported like a file.
  for (const auto& name : names) {
    const Str file = JoinAlways(path, name);
    platform::Error error = platform::Error::None;
    if (!os.DeleteFile(file, &error)) Trace(kSevError, kSourceFrame, __LINE__, IDS_CANNOT_DELETE_FILE, file.c_str());
  }
  platform::Error error = platform::Error::None;
  if (!os.RemoveDirectory(path, &error)) Trace(kSevError, kSourceFrame, __LINE__, IDS_CANNOT_DELETE_DIRECTORY, path.c_str());
}

}  // namespace es
