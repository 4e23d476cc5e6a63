// A folder of a storage, opened once and never through a link: its entries are listed,
// opened, renamed and deleted relative to it, so that a folder swapped for a link after
// it was opened cannot lead anywhere else. Every failure keeps the OS's reason, since
// an error of a flaky share must never be taken for an empty folder.
#pragma once

#include <cstdint>
#include <vector>

#include "base/Text.h"
#include "platform/Platform.h"

namespace es {

using platform::EntryType;
using platform::Error;

// Why an operation failed: the seam's kind and the OS's own words, for trace lines.
struct Failure {
  Error error = Error::None;
  Str text;

  bool Failed() const { return error != Error::None; }
  // Not there at all: the one failure that may be taken for absence.
  bool IsAbsence() const { return error == Error::NotFound; }
  // A link or something that is no regular file where one was wanted.
  bool IsWrongKind() const { return error == Error::IsLink || error == Error::WrongType; }
  // Anything else: the entry may well be there; nothing may be concluded from it.
  bool IsTrouble() const { return Failed() && !IsAbsence() && !IsWrongKind(); }
  // "a symbolic link", "not a regular file", or the OS's words.
  Str Reason() const;
  static Failure Of(Error error);
};

class Folder {
 public:
  Folder() = default;
  // The registered storage directory; it may itself be a link the administrator chose.
  static Folder OpenStorage(const Str& path);
  // A group or document folder at `path`: never through a link.
  static Folder Open(const Str& path);
  // Sub-folder `name` of this one, never through a link.
  Folder Child(const Str& name) const;

  ~Folder();
  Folder(Folder&& other) noexcept;
  Folder& operator=(Folder&& other) noexcept;
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  bool IsOpen() const { return handle_ != platform::kInvalidFolder; }
  platform::FolderHandle Handle() const { return handle_; }
  const Str& Path() const { return path_; }
  // Why the folder did not open.
  const Failure& OpenFailure() const { return failure_; }
  // The path of an entry, for trace lines and reports.
  Str PathOf(StrView name) const { return JoinAlways(path_, name); }

  // Every entry but "." and "..", in the file system's order.
  bool List(std::vector<platform::FolderEntry>* entries, Failure* failure) const;
  bool Stat(const Str& name, platform::EntryInfo* info, Failure* failure) const;
  bool DeleteFile(const Str& name, Failure* failure) const;
  bool RemoveFolder(const Str& name, Failure* failure) const;
  bool Move(const Str& from, const Str& to, Failure* failure) const;
  bool SetAttributes(const Str& name, std::uint32_t attributes, Failure* failure) const;

 private:
  Folder(platform::FolderHandle handle, Str path, Failure failure);
  void Close();

  platform::FolderHandle handle_ = platform::kInvalidFolder;
  Str path_;
  Failure failure_;
};

}  // namespace es
