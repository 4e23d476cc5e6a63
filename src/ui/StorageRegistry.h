// The registered storages and the deletion switches, with the rules the configure and
// edit dialogs apply, and nothing of a window: the dialogs use it, and so does eshost's
// register, edit, remove and set.
#pragma once

#include <cstddef>

#include "base/Text.h"

namespace es {

enum class Registration {
  Accepted,
  InvalidDirectory,   // not an existing directory, or too long once expanded
  AlreadyRegistered,  // another entry names the same directory
  NotRegistered,      // edit or remove of a directory no entry names
};

class StorageRegistry {
 public:
  StorageRegistry() = default;
  // Entries in the order given (the configure dialog keeps them sorted).
  StorageRegistry(StrArray directories, Str selected, bool deleteImages, bool deleteGroupFolder);

  // The edit dialog's test of a directory as typed: an existing directory (its %NAME%
  // references expanded, within the 259 characters a directory may have) that none of
  // `registered` but the entry at `skip` names, whatever the case or a trailing separator.
  static Registration Check(const Str& directory, const StrArray& registered, std::ptrdiff_t skip);
  // Where the configure dialog's list puts `text`: after every entry that sorts equal,
  // without regard to case.
  static std::size_t SortedPosition(const StrArray& entries, const Str& text);

  // The entry registered as `directory`: the same text first, else the same directory.
  // -1 when none.
  std::ptrdiff_t Find(const Str& directory) const;
  // Registers `directory` as typed, in its sorted place; it becomes the selected one.
  Registration Register(const Str& directory);
  // Changes the entry that names `registered` to `directory`.
  Registration Edit(const Str& registered, const Str& directory);
  // Removes the entry that names `registered`; the entry now in its place is selected.
  Registration Remove(const Str& registered);

  // Images kept means the group folders are kept too.
  void SetDeleteImages(bool on);
  // False (nothing changed) when it is turned on while images are kept.
  bool SetDeleteGroupFolder(bool on);

  const StrArray& Directories() const { return directories_; }
  const Str& Selected() const { return selected_; }
  bool DeleteImages() const { return deleteImages_; }
  bool DeleteGroupFolder() const { return deleteGroupFolder_; }

 private:
  StrArray directories_;
  Str selected_;
  bool deleteImages_ = true;
  bool deleteGroupFolder_ = true;
};

}  // namespace es
