#include "storage/Folder.h"

#include <utility>

namespace es {

using platform::Os;

namespace {

Failure Failed(Error error) {
  Failure failure;
  failure.error = error;
  failure.text = Os().LastErrorText();
  return failure;
}

bool Report(bool ok, Error error, Failure* failure) {
  if (failure != nullptr) *failure = ok ? Failure{} : Failed(error);
  return ok;
}

}  // namespace

Str Failure::Reason() const {
  switch (error) {
    case Error::None: return Str();
    case Error::IsLink: return u"a symbolic link or other reparse point, which is never followed";
    case Error::WrongType: return u"not a regular file";
    case Error::NotFound: return u"not found";
    default: return text.empty() ? Str(u"the operating system refused it") : text;
  }
}

Failure Failure::Of(Error error) {
  Failure failure;
  failure.error = error;
  return failure;
}

Folder::Folder(platform::FolderHandle handle, Str path, Failure failure)
    : handle_(handle), path_(std::move(path)), failure_(std::move(failure)) {}

Folder Folder::OpenStorage(const Str& path) {
  Error error = Error::None;
  const platform::FolderHandle handle = Os().OpenFolder(path, true, &error);
  return Folder(handle, path, handle == platform::kInvalidFolder ? Failed(error) : Failure{});
}

Folder Folder::Open(const Str& path) {
  Error error = Error::None;
  const platform::FolderHandle handle = Os().OpenFolder(path, false, &error);
  return Folder(handle, path, handle == platform::kInvalidFolder ? Failed(error) : Failure{});
}

Folder Folder::Child(const Str& name) const {
  if (!IsOpen()) return Folder(platform::kInvalidFolder, PathOf(name), failure_);
  Error error = Error::None;
  const platform::FolderHandle handle = Os().OpenSubFolder(handle_, name, &error);
  return Folder(handle, PathOf(name), handle == platform::kInvalidFolder ? Failed(error) : Failure{});
}

Folder::~Folder() { Close(); }

Folder::Folder(Folder&& other) noexcept
    : handle_(std::exchange(other.handle_, platform::kInvalidFolder)),
      path_(std::move(other.path_)),
      failure_(std::move(other.failure_)) {}

Folder& Folder::operator=(Folder&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, platform::kInvalidFolder);
    path_ = std::move(other.path_);
    failure_ = std::move(other.failure_);
  }
  return *this;
}

void Folder::Close() {
  if (handle_ != platform::kInvalidFolder) Os().CloseFolder(std::exchange(handle_, platform::kInvalidFolder));
}

bool Folder::List(std::vector<platform::FolderEntry>* entries, Failure* failure) const {
  entries->clear();
  if (!IsOpen()) {
    if (failure != nullptr) *failure = failure_;
    return false;
  }
  Error error = Error::None;
  const bool ok = Os().ListFolder(
      handle_,
      [entries](const platform::FolderEntry& entry) {
        entries->push_back(entry);
        return true;
      },
      &error);
  return Report(ok, error, failure);
}

bool Folder::Stat(const Str& name, platform::EntryInfo* info, Failure* failure) const {
  Error error = IsOpen() ? Error::None : failure_.error;
  const bool ok = IsOpen() && Os().StatAt(handle_, name, info, &error);
  return Report(ok, error, failure);
}

bool Folder::DeleteFile(const Str& name, Failure* failure) const {
  Error error = IsOpen() ? Error::None : failure_.error;
  const bool ok = IsOpen() && Os().DeleteFileAt(handle_, name, &error);
  return Report(ok, error, failure);
}

bool Folder::RemoveFolder(const Str& name, Failure* failure) const {
  Error error = IsOpen() ? Error::None : failure_.error;
  const bool ok = IsOpen() && Os().RemoveFolderAt(handle_, name, &error);
  return Report(ok, error, failure);
}

bool Folder::Move(const Str& from, const Str& to, Failure* failure) const {
  Error error = IsOpen() ? Error::None : failure_.error;
  const bool ok = IsOpen() && Os().MoveFileAt(handle_, from, to, &error);
  return Report(ok, error, failure);
}

bool Folder::SetAttributes(const Str& name, std::uint32_t attributes, Failure* failure) const {
  Error error = IsOpen() ? Error::None : failure_.error;
  const bool ok = IsOpen() && Os().SetAttributesAt(handle_, name, attributes, &error);
  return Report(ok, error, failure);
}

}  // namespace es
