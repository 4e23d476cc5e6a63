#include "storage/File.h"

#include "storage/Folder.h"

#include <utility>

namespace es {

using platform::Os;

File::File(const std::u16string& path, platform::Access access, platform::Share share,
           platform::Disposition disposition) {
  handle_ = Os().OpenFile(path, access, share, disposition, &error_);
  if (handle_ == platform::kInvalidFile) errorText_ = Os().LastErrorText();
}

File::File(const Folder& folder, const std::u16string& name, platform::Access access, platform::Share share,
           platform::Disposition disposition) {
  if (!folder.IsOpen()) {
    error_ = folder.OpenFailure().error;
    errorText_ = folder.OpenFailure().text;
    return;
  }
  handle_ = Os().OpenFileAt(folder.Handle(), name, access, share, disposition, &error_);
  if (handle_ == platform::kInvalidFile) errorText_ = Os().LastErrorText();
}

Failure File::OpenFailure() const {
  Failure failure;
  if (IsOpen()) return failure;
  failure.error = error_;
  failure.text = errorText_;
  return failure;
}

File::~File() { Close(); }

File::File(File&& other) noexcept
    : handle_(std::exchange(other.handle_, platform::kInvalidFile)), error_(other.error_), errorText_(other.errorText_) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, platform::kInvalidFile);
    error_ = other.error_;
    errorText_ = other.errorText_;
  }
  return *this;
}

void File::Close() {
  if (handle_ != platform::kInvalidFile) {
    Os().Close(handle_);
    handle_ = platform::kInvalidFile;
  }
}

bool File::Size(std::uint64_t* size) const { return IsOpen() && Os().FileSize(handle_, size); }

bool File::Seek(std::uint64_t offset) { return IsOpen() && Os().Seek(handle_, offset); }

bool File::ReadFully(void* buffer, std::size_t count, std::size_t* got) {
  *got = 0;
  if (!IsOpen()) return false;
  auto* out = static_cast<std::uint8_t*>(buffer);
  while (*got < count) {
    std::size_t n = 0;
    if (!Os().Read(handle_, out + *got, count - *got, &n)) return false;
    if (n == 0) break;
    *got += n;
  }
  return true;
}

bool File::Write(const void* data, std::size_t count) { return IsOpen() && Os().Write(handle_, data, count); }

File::Whole File::ReadWhole(std::vector<std::uint8_t>* bytes, std::uint64_t limit) {
  bytes->clear();
  std::uint64_t size = 0;
  if (!Size(&size)) return Whole::Failed;
  // Sizes come from untrusted storages: the limit is checked before anything is allocated.
  if (size > limit) return Whole::TooLarge;
  bytes->resize(static_cast<std::size_t>(size));
  std::size_t got = 0;
  if (!Seek(0) || !ReadFully(bytes->data(), bytes->size(), &got)) {
    bytes->clear();
    return Whole::Failed;
  }
  bytes->resize(got);
  return got == size ? Whole::Read : Whole::Short;
}

bool File::ReadAll(std::vector<std::uint8_t>* bytes, std::uint64_t limit) {
  return ReadWhole(bytes, limit) == Whole::Read;
}

}  // namespace es
