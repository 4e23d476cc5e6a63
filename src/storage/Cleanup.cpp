#include "storage/Cleanup.h"

#include <algorithm>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ResourceIds.h"
#include "base/ModuleState.h"
#include "base/Trace.h"
#include "platform/Platform.h"
#include "storage/File.h"
#include "storage/Layout.h"
#include "storage/Listing.h"
#include "base/TextMode.h"

namespace es {

using platform::Os;

namespace {

Str LoadModuleString(std::uint32_t id) {
  char16_t buffer[1024] = {};
  Os().LoadString(CurrentModuleState()->resources, id, buffer, 1024);
  return buffer;
}

bool IsOrderFile(StrView name) {
  return EqualsNoCase(name, layout::kOrderFile) || EqualsNoCase(name, Str(layout::kOrderFile) + layout::kOrderBackupSuffix);
}

// Deletes the entries of `folder` that were seen and are still what was seen. A document
// is marked as delivered first and the mark goes last: a delete cut short leaves a
// document the next scan only finishes deleting, never one whose rest is imported again.
// A group's lock file goes last, so that the next scan still finds the group and
// finishes it.
enum class Deleted {
  All,     // nothing is left that would keep the folder
  Failed,  // a delete failed (traced): removing the folder will fail and say so
  Kept,    // something appeared or changed since the import read it (traced): the folder stays
};
Deleted DeleteSeen(const Folder& folder, const SeenEntries& seen, bool group) {
  std::vector<platform::FolderEntry> now;
  Failure why;
  if (!folder.List(&now, &why)) {
    TraceTrouble(folder.Path(), why, __LINE__);
    return Deleted::Kept;
  }
  std::unordered_map<Str, const SeenEntry*> seenByName;
  for (const SeenEntry& entry : seen) seenByName.emplace(entry.name, &entry);
  // First make sure that everything there is what was seen: nothing is deleted from a
  // folder that is to stay.
  bool kept = false;
  StrArray doomed;
  for (const auto& entry : now) {
    const Str path = folder.PathOf(entry.name);
    // The module's own order file and its backup are rewritten during the import.
    if (group && IsOrderFile(entry.name) && entry.type != EntryType::Folder) {
      doomed.push_back(entry.name);
      continue;
    }
    if (group && entry.type == EntryType::Folder) {
      kept = true;  // a document folder: the caller looked for these first
      continue;
    }
    const auto it = seenByName.find(entry.name);
    if (it == seenByName.end()) {
      Trace(kSevSkipped, kSourceFrame, __LINE__, u"%s appeared after the import read the folder; the folder stays",
            path.c_str());
      kept = true;
      continue;
    }
    platform::EntryInfo info;
    if (!folder.Stat(entry.name, &info, &why)) {
      if (why.IsAbsence()) continue;
      TraceTrouble(path, why, __LINE__);
      kept = true;
      continue;
    }
    if (!SameEntry(it->second->info, info)) {
      Trace(kSevSkipped, kSourceFrame, __LINE__, u"%s changed after the import read it; the folder stays", path.c_str());
      kept = true;
      continue;
    }
    doomed.push_back(entry.name);
  }
  if (kept) return Deleted::Kept;
  // The attribute file first: where no mark could be put, what is left of the document
  // comes back as extra pages rather than missing ones. Last the entry that keeps the
  // folder recognisable: a group's lock file, a document's mark.
  const auto rank = [group](const Str& name) {
    if (!group && EqualsNoCase(name, layout::kAttributeFile)) return 0;
    if (group ? EqualsNoCase(name, layout::kLockFile) : EqualsNoCase(name, layout::kDeliveredMark)) return 2;
    return 1;
  };
  if (!group && std::none_of(doomed.begin(), doomed.end(), [&](const Str& name) { return rank(name) == 2; })) {
    // Without the mark (a folder that takes no new file) the delete goes on as before.
    File mark(folder, layout::kDeliveredMark, platform::Access::Write, platform::Share::None,
              platform::Disposition::CreateNew);
    if (mark.IsOpen()) doomed.push_back(layout::kDeliveredMark);
  }
  std::stable_sort(doomed.begin(), doomed.end(), [&](const Str& a, const Str& b) { return rank(a) < rank(b); });
  bool failed = false;
  for (const Str& name : doomed) {
    // What would not go keeps the last entry: a document its mark, so that the next scan
    // deletes it and never imports it; a group its lock file, so that it stays a group the
    // next scan finishes.
    if (failed && rank(name) == 2) break;
    // Sub-folders are not entered: deleting one fails and is reported like a file.
    if (!folder.DeleteFile(name, &why) && !why.IsAbsence()) {
      Trace(kSevError, kSourceFrame, __LINE__, IDS_CANNOT_DELETE_FILE, folder.PathOf(name).c_str());
      failed = true;
    }
  }
  return failed ? Deleted::Failed : Deleted::All;
}

// The folder that holds `path` and the last part of it.
void SplitPath(const Str& path, Str* parent, Str* name) {
  Str trimmed = path;
  while (trimmed.size() > 1 && EndsWithSeparator(trimmed)) trimmed.pop_back();
  const std::size_t sep = trimmed.rfind(platform::kPathSep);
  if (sep == Str::npos) {
    *parent = u".";
    *name = trimmed;
    return;
  }
  *parent = sep == 0 ? trimmed.substr(0, 1) : trimmed.substr(0, sep);
  *name = trimmed.substr(sep + 1);
}

}  // namespace

Str DamagedHeader(const Str& documentName, const Str& groupName) {
  // "%s %s %s %c%s%c %s%c"
  return LoadModuleString(IDS_DAMAGED_FROM_DOCUMENT) + u" " + documentName + u" " +
         LoadModuleString(IDS_DAMAGED_FROM_GROUP) + u" \"" + groupName + u"\" " +
         LoadModuleString(IDS_DAMAGED_ARE_DAMAGED) + u"\n";
}

void ReportDamagedPages(ImportState& element, const Str& header, const Str& pages) {
  Str text = header + pages;
  if (element.DeleteFaxes != 0) text += u"\n" + LoadModuleString(IDS_DOCUMENT_NOT_DELETED);
  // Shown in unattended runs too: a kept document needs a person to look at it.
  MessageBoxText(element.parentWindow, text.c_str(), kErrorIconStyle);
}

void ReportDamagedPages(ImportState& element) { ReportDamagedPages(element, element.damagedHeader, element.damagedPages); }

void FinishDocument(ImportState& element) {
  // A group's first document has no predecessor; an empty name would name the group
  // folder itself.
  if (element.pendingDocumentName.empty()) return;
  const Str name = std::exchange(element.pendingDocumentName, Str());
  const SeenEntries seen = std::exchange(element.pendingEntries, SeenEntries());
  const bool keep = std::exchange(element.pendingKeep, false);
  if (!element.damagedPages.empty()) {
    ReportDamagedPages(element);
    element.damagedPages.clear();
    return;
  }
  // Something in it could not be read this time (traced): it stays for the next scan.
  if (keep) return;
  RemoveOrderEntry(element, element.orderFilePath, name);
  DeleteDocumentFolder(element, name, seen);
}

void RecoverOrderFile(ImportState& element) {
  if (element.DeleteFaxes == 0 || element.groupFolder == nullptr) return;
  const Folder& group = *element.groupFolder;
  const Str backup = Str(layout::kOrderFile) + layout::kOrderBackupSuffix;
  platform::EntryInfo info;
  Failure why;
  if (!group.Stat(backup, &info, &why)) return;
  // Only a regular file can be the backup the rewrite left; anything else of that name
  // is not ours and is left alone.
  if (info.type != EntryType::File) {
    TraceSkippedEntry(group.PathOf(backup), Failure::Of(info.type == EntryType::Link ? Error::IsLink : Error::WrongType),
                      __LINE__);
    return;
  }
  // The backup is the last complete order file; what stands beside it may be a rewrite
  // that never finished.
  if (group.Stat(layout::kOrderFile, &info, &why)) {
    if (info.type == EntryType::Folder || !group.DeleteFile(layout::kOrderFile, &why)) return;
  } else if (!why.IsAbsence()) {
    return;
  }
  group.Move(backup, layout::kOrderFile, &why);
}

bool RemoveOrderEntry(ImportState& element, const Str& orderFilePath, const Str& name) {
  if (element.DeleteFaxes == 0) return true;
  if (element.groupFolder == nullptr) return false;
  const Folder& group = *element.groupFolder;
  auto& os = Os();
  Failure why;
  const Str order = layout::kOrderFile;
  const Str backup = order + layout::kOrderBackupSuffix;
  group.DeleteFile(backup, &why);
  group.Move(order, backup, &why);

  // Created afresh, never opened: whatever else is in the way (a link put there
  // meanwhile, say) takes the failure path, and the backup comes back.
  File output(group, order, platform::Access::Write, platform::Share::None, platform::Disposition::CreateNew);
  if (!output.IsOpen()) {
    group.Move(backup, order, &why);
    return false;
  }
  File input(group, backup, platform::Access::Read, platform::Share::Read);
  if (!input.IsOpen()) {
    output.Close();
    // A group without an order file ends up with an empty one. When a backup is there
    // but cannot be read, the previous file comes back instead of the empty one.
    platform::EntryInfo info;
    if (group.Stat(backup, &info, &why)) {
      group.DeleteFile(order, &why);
      group.Move(backup, order, &why);
    }
    return false;
  }

  auto fail = [&]() {
    input.Close();
    output.Close();
    group.DeleteFile(order, &why);
    group.Move(backup, order, &why);
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
  if (!group.DeleteFile(backup, &why) && !why.IsAbsence())
    Trace(kSevError, kSourceFrame, __LINE__, IDS_CANNOT_DELETE_FILE, (orderFilePath + layout::kOrderBackupSuffix).c_str());
  return true;
}

bool HasSubfolders(const Folder& folder) {
  std::vector<platform::FolderEntry> entries;
  Failure why;
  if (!folder.List(&entries, &why)) return !why.IsAbsence();
  return std::any_of(entries.begin(), entries.end(),
                     [](const platform::FolderEntry& e) { return e.type == EntryType::Folder; });
}

void DeleteDocumentFolder(ImportState& element, const Str& name, const SeenEntries& seen) {
  if (element.DeleteFaxes == 0 || element.groupFolder == nullptr) return;
  const Folder& group = *element.groupFolder;
  const Folder document = group.Child(name);
  if (!document.IsOpen()) {
    // A folder swapped for a link is never deleted through; one already gone is done.
    if (!document.OpenFailure().IsAbsence()) TraceSkippedEntry(document.Path(), document.OpenFailure(), __LINE__);
    return;
  }
  if (DeleteSeen(document, seen, false) == Deleted::Kept) return;
  Failure why;
  if (!group.RemoveFolder(name, &why) && !why.IsAbsence())
    Trace(kSevError, kSourceFrame, __LINE__, IDS_CANNOT_DELETE_DIRECTORY, document.Path().c_str());
}

void DeleteGroupFolder(ImportState& element, const Folder& group, const SeenEntries& seen) {
  if (element.DeleteFaxes == 0) return;
  // A document folder is still there, for example one that was kept.
  if (HasSubfolders(group)) return;
  // So that a read-only lock file can be deleted.
  Failure why;
  group.SetAttributes(layout::kLockFile, platform::kAttrNormal, &why);
  // The storage folder first: a group whose files went must also lose its folder, or the
  // next scan could not tell it from one a producer is starting.
  Str parentPath;
  Str name;
  SplitPath(group.Path(), &parentPath, &name);
  const Folder parent = Folder::OpenStorage(parentPath);
  if (!parent.IsOpen()) {
    TraceTrouble(parentPath, parent.OpenFailure(), __LINE__);
    return;
  }
  if (DeleteSeen(group, seen, true) == Deleted::Kept) return;
  if (!parent.RemoveFolder(name, &why) && !why.IsAbsence())
    Trace(kSevError, kSourceFrame, __LINE__, IDS_CANNOT_DELETE_DIRECTORY, group.Path().c_str());
}

}  // namespace es
