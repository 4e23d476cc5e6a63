#include "storage/Listing.h"

#include <algorithm>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "base/Trace.h"
#include "storage/File.h"
#include "storage/Folder.h"
#include "storage/Layout.h"

namespace es {

using platform::Os;

namespace {

// The text of a small ANSI file up to its first zero byte.
Str AnsiText(const std::vector<std::uint8_t>& bytes) {
  const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
  const auto count = static_cast<std::size_t>(end - bytes.begin());
  if (count == 0) return Str();
  return Os().AnsiToUtf16(reinterpret_cast<const char*>(bytes.data()), count);
}

// The folder a listing pattern ("folder", a separator, "*.*") lists.
Str FolderOfPattern(const Str& pattern) {
  Str folder = layout::OrderFileOfPattern(pattern);
  folder.resize(folder.size() - std::char_traits<char16_t>::length(layout::kOrderFile));
  while (folder.size() > 1 && EndsWithSeparator(folder)) folder.pop_back();
  return folder;
}

}  // namespace

void TraceSkippedEntry(const Str& path, const Failure& why, int line) {
  Trace(kSevSkipped, kSourceFrame, line, u"%s is skipped: %s", path.c_str(), why.Reason().c_str());
}

void TraceTrouble(const Str& path, const Failure& why, int line) {
  Trace(kSevSkipped, kSourceFrame, line, u"%s cannot be read (%s); it is left as it is for this scan", path.c_str(),
        why.Reason().c_str());
}

bool ListFolders(const Folder& folder, StrArray& names, bool traceSkipped, Failure* failure) {
  std::vector<platform::FolderEntry> entries;
  if (!folder.List(&entries, failure)) return false;
  for (auto& entry : entries) {
    if (entry.type == EntryType::Folder) {
      names.push_back(std::move(entry.name));
    } else if (entry.type == EntryType::Link && traceSkipped) {
      TraceSkippedEntry(folder.PathOf(entry.name), Failure::Of(Error::IsLink), __LINE__);
    }
  }
  return true;
}

bool ReadOrderText(const Folder& folder, Str* text, Failure* failure) {
  text->clear();
  *failure = Failure{};
  File file(folder, layout::kOrderFile, platform::Access::Read, platform::Share::Read);
  if (!file.IsOpen()) {
    const Failure why = file.OpenFailure();
    // Missing, or no regular file: the listing order stays. Anything else may hide an
    // order file that is there: nothing may be concluded from it.
    if (why.IsWrongKind()) TraceSkippedEntry(folder.PathOf(layout::kOrderFile), why, __LINE__);
    if (why.IsTrouble()) *failure = why;
    return !why.IsTrouble();
  }
  std::vector<std::uint8_t> bytes;
  switch (file.ReadWhole(&bytes, layout::kTextFileLimit)) {
    case File::Whole::TooLarge:
      Trace(kSevSkipped, kSourceFrame, __LINE__, u"Order file %s is too large to be read; the listing order is kept",
            folder.PathOf(layout::kOrderFile).c_str());
      return true;
    case File::Whole::Failed:
      failure->error = Error::Io;
      failure->text = Os().LastErrorText();
      return false;
    case File::Whole::Short:  // what arrived counts, as a short read of the whole file gives it
    case File::Whole::Read:
      break;
  }
  *text = AnsiText(bytes);
  return true;
}

void OrderByOrderText(const Str& text, StrArray& folders) {
  if (text.empty()) return;
  std::vector<StrView> lines;
  std::size_t pos = 0;
  StrView line;
  while (listing::NextLine(text, &pos, &line)) lines.push_back(line);
  listing::OrderByLines(lines, folders);
}

namespace listing {

bool NextLine(StrView text, std::size_t* pos, StrView* line) {
  if (*pos >= text.size()) return false;
  const std::size_t end = text.find(u"\r\n", *pos);
  if (end == StrView::npos) {
    *line = text.substr(*pos);
    *pos = text.size();
  } else {
    *line = text.substr(*pos, end - *pos);
    *pos = end + 2;
  }
  return true;
}

void OrderByLines(const std::vector<StrView>& lines, StrArray& folders) {
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  const std::size_t count = folders.size();
  // Each line takes the first remaining entry equal to it. The entries of one name form
  // a queue in array order: `head` maps the name to the first one left, `next` links on.
  std::vector<std::size_t> order;
  order.reserve(count);
  std::vector<bool> taken(count, false);
  {
    std::unordered_map<StrView, std::size_t> head;
    head.reserve(count);
    std::vector<std::size_t> next(count, kNone);
    for (std::size_t i = count; i-- > 0;) {
      auto [it, inserted] = head.try_emplace(StrView(folders[i]), i);
      if (!inserted) {
        next[i] = it->second;
        it->second = i;
      }
    }
    for (const StrView line : lines) {
      const auto it = head.find(line);
      if (it == head.end() || it->second == kNone) continue;
      const std::size_t index = it->second;
      order.push_back(index);
      taken[index] = true;
      it->second = next[index];
    }
  }
  if (order.empty()) return;
  for (std::size_t i = 0; i < count; ++i) {
    if (!taken[i]) order.push_back(i);
  }
  StrArray ordered;
  ordered.reserve(count);
  for (const std::size_t index : order) ordered.push_back(std::move(folders[index]));
  folders = std::move(ordered);
}

}  // namespace listing

void ListSubFolders(const Str& pattern, StrArray& folders) {
  // The folder a pattern names is a storage directory, which may be a link the
  // administrator chose; what lies below it is never taken through one.
  const Folder folder = Folder::OpenStorage(FolderOfPattern(pattern));
  Failure failure;
  if (!ListFolders(folder, folders, true, &failure) && failure.IsTrouble())
    TraceTrouble(folder.Path(), failure, __LINE__);
  Str text;
  if (!ReadOrderText(folder, &text, &failure)) TraceTrouble(folder.PathOf(layout::kOrderFile), failure, __LINE__);
  OrderByOrderText(text, folders);
}

bool TakeLine(Str& line, Str& text) {
  std::size_t pos = 0;
  StrView found;
  if (!listing::NextLine(text, &pos, &found)) return false;
  line.assign(found);
  text.erase(0, pos);
  return true;
}

bool ReadGroupLock(const Folder& storage, const Str& folder, Str& groupName) {
  groupName.clear();
  const Folder group = storage.Child(folder);
  if (!group.IsOpen()) {
    if (!group.OpenFailure().IsAbsence()) TraceSkippedEntry(group.Path(), group.OpenFailure(), __LINE__);
    return false;
  }
  File file(group, layout::kLockFile, platform::Access::Read, platform::Share::Read);
  if (!file.IsOpen()) {
    if (file.OpenFailure().IsWrongKind()) TraceSkippedEntry(group.PathOf(layout::kLockFile), file.OpenFailure(), __LINE__);
    return false;
  }
  std::uint64_t size = 0;
  if (!file.Size(&size) || size >= layout::kLockFileLimit) return false;
  std::vector<std::uint8_t> bytes(layout::kLockFileLimit - 1);
  std::size_t got = 0;
  // A lock file that opens but cannot be read still marks an available group.
  if (!file.ReadFully(bytes.data(), bytes.size(), &got)) return true;
  bytes.resize(got);
  file.Close();
  groupName = FirstLineUnlessLeadingCr(AnsiText(bytes));
  return true;
}

bool ReadGroupLock(const Str& storageDir, const Str& folder, Str& groupName) {
  return ReadGroupLock(Folder::OpenStorage(storageDir), folder, groupName);
}

void DiscoverGroups(const Str& storageDir, StrArray& folders, StrArray& groupNames) {
  folders.clear();
  groupNames.clear();
  StrArray candidates;
  ListSubFolders(layout::StorageListingPattern(storageDir), candidates);
  const Folder storage = Folder::OpenStorage(storageDir);
  for (Str& candidate : candidates) {
    Str name;
    if (!ReadGroupLock(storage, candidate, name)) continue;
    folders.push_back(std::move(candidate));
    groupNames.push_back(std::move(name));
  }
}

}  // namespace es
