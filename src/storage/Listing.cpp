#include "storage/Listing.h"

#include <algorithm>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "frame/Trace.h"
#include "storage/File.h"
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

// The order file's text; empty when it is missing, empty or cannot be read, which
// leaves the listing order as it is.
Str ReadOrderText(const Str& path) {
  File file(path, platform::Access::Read, platform::Share::Read);
  if (!file.IsOpen()) return Str();
  std::uint64_t size = 0;
  if (!file.Size(&size) || (size & 0xFFFFFFFFu) == 0) return Str();
  if ((size & 0xFFFFFFFFu) > layout::kTextFileLimit) {
    Trace(kSevSkipped, kSourceFrame, __LINE__, u"Order file %s is too large to be read; the listing order is kept",
          path.c_str());
    return Str();
  }
  std::vector<std::uint8_t> bytes;
  // A short read keeps what arrived; a failed one leaves nothing.
  file.ReadAll(&bytes, layout::kTextFileLimit);
  file.Close();
  return AnsiText(bytes);
}

}  // namespace

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
  Os().Enumerate(pattern, [&folders](const platform::DirEntry& entry) {
    const bool directory = entry.isDirectory || (entry.attributes & platform::kAttrDirectory) != 0;
    if (directory && entry.name != u"." && entry.name != u"..") folders.push_back(entry.name);
    return true;
  });

  const Str text = ReadOrderText(layout::OrderFileOfPattern(pattern));
  if (text.empty()) return;
  std::vector<StrView> lines;
  std::size_t pos = 0;
  StrView line;
  while (listing::NextLine(text, &pos, &line)) lines.push_back(line);
  listing::OrderByLines(lines, folders);
}

bool TakeLine(Str& line, Str& text) {
  std::size_t pos = 0;
  StrView found;
  if (!listing::NextLine(text, &pos, &found)) return false;
  line.assign(found);
  text.erase(0, pos);
  return true;
}

bool ReadGroupLock(const Str& storageDir, const Str& folder, Str& groupName) {
  groupName.clear();
  File file(layout::GroupLockPath(storageDir, folder), platform::Access::Read, platform::Share::Read);
  if (!file.IsOpen()) return false;
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

void DiscoverGroups(const Str& storageDir, StrArray& folders, StrArray& groupNames) {
  folders.clear();
  groupNames.clear();
  StrArray candidates;
  ListSubFolders(layout::StorageListingPattern(storageDir), candidates);
  for (Str& candidate : candidates) {
    Str name;
    if (!ReadGroupLock(storageDir, candidate, name)) continue;
    folders.push_back(std::move(candidate));
    groupNames.push_back(std::move(name));
  }
}

}  // namespace es
