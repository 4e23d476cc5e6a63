#include "ui/StorageRegistry.h"

#include <algorithm>
#include <utility>

#include "platform/Platform.h"

namespace es {

namespace {

// Directory texts are expanded into a buffer of this many characters, terminator included.
constexpr std::size_t kDirectoryCapacity = 260;
// The largest environment block value: enough for any registered text.
constexpr std::size_t kUnlimitedCapacity = 32768;

// What a registered text names, as registrations are compared: expanded (also when too
// long for the directory buffer), with a trailing separator, in upper case.
Str Key(const Str& text) {
  Str expanded;
  if (!platform::Os().ExpandEnvironment(text, kDirectoryCapacity, &expanded) &&
      !platform::Os().ExpandEnvironment(text, kUnlimitedCapacity, &expanded))
    expanded = text;
  if (!EndsWithSeparator(expanded)) expanded.push_back(platform::kPathSep);
  return ToUpper(expanded);
}

bool IsExistingDirectory(const Str& path) {
  std::uint32_t attributes = 0;
  return platform::Os().GetAttributes(path, &attributes) && (attributes & platform::kAttrDirectory) != 0;
}

}  // namespace

StorageRegistry::StorageRegistry(StrArray directories, Str selected, bool deleteImages, bool deleteGroupFolder)
    : directories_(std::move(directories)),
      selected_(std::move(selected)),
      deleteImages_(deleteImages),
      deleteGroupFolder_(deleteImages && deleteGroupFolder) {}

Registration StorageRegistry::Check(const Str& directory, const StrArray& registered, std::ptrdiff_t skip) {
  // A text that does not fit the 259 characters of a directory once expanded cannot be
  // used anywhere the storage is read, so it is refused like any other invalid directory.
  Str expanded;
  if (!platform::Os().ExpandEnvironment(directory, kDirectoryCapacity, &expanded) || expanded.empty())
    return Registration::InvalidDirectory;
  if (!EndsWithSeparator(expanded)) expanded.push_back(platform::kPathSep);
  if (!IsExistingDirectory(expanded)) return Registration::InvalidDirectory;
  const Str key = ToUpper(expanded);
  for (std::size_t i = 0; i < registered.size(); ++i) {
    if (static_cast<std::ptrdiff_t>(i) == skip) continue;
    if (Key(registered[i]) == key) return Registration::AlreadyRegistered;
  }
  return Registration::Accepted;
}

std::size_t StorageRegistry::SortedPosition(const StrArray& entries, const Str& text) {
  const Str upper = ToUpper(text);
  const auto at = std::upper_bound(entries.begin(), entries.end(), upper,
                                   [](const Str& t, const Str& entry) { return t < ToUpper(entry); });
  return static_cast<std::size_t>(at - entries.begin());
}

std::ptrdiff_t StorageRegistry::Find(const Str& directory) const {
  for (std::size_t i = 0; i < directories_.size(); ++i)
    if (directories_[i] == directory) return static_cast<std::ptrdiff_t>(i);
  const Str key = Key(directory);
  for (std::size_t i = 0; i < directories_.size(); ++i)
    if (Key(directories_[i]) == key) return static_cast<std::ptrdiff_t>(i);
  return -1;
}

Registration StorageRegistry::Register(const Str& directory) {
  const Registration check = Check(directory, directories_, -1);
  if (check != Registration::Accepted) return check;
  directories_.insert(directories_.begin() + static_cast<std::ptrdiff_t>(SortedPosition(directories_, directory)),
                      directory);
  selected_ = directory;
  return Registration::Accepted;
}

Registration StorageRegistry::Edit(const Str& registered, const Str& directory) {
  const std::ptrdiff_t index = Find(registered);
  if (index < 0) return Registration::NotRegistered;
  const Registration check = Check(directory, directories_, index);
  if (check != Registration::Accepted) return check;
  directories_.erase(directories_.begin() + index);
  directories_.insert(directories_.begin() + static_cast<std::ptrdiff_t>(SortedPosition(directories_, directory)),
                      directory);
  selected_ = directory;
  return Registration::Accepted;
}

Registration StorageRegistry::Remove(const Str& registered) {
  const std::ptrdiff_t index = Find(registered);
  if (index < 0) return Registration::NotRegistered;
  directories_.erase(directories_.begin() + index);
  // The row that took its place is the selected one, or the last row when it was last.
  if (!directories_.empty())
    selected_ = directories_[std::min(static_cast<std::size_t>(index), directories_.size() - 1)];
  return Registration::Accepted;
}

void StorageRegistry::SetDeleteImages(bool on) {
  deleteImages_ = on;
  if (!on) deleteGroupFolder_ = false;
}

bool StorageRegistry::SetDeleteGroupFolder(bool on) {
  if (on && !deleteImages_) return false;
  deleteGroupFolder_ = on;
  return true;
}

}  // namespace es
