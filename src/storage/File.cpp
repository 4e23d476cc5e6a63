#include "storage/File.h"

#include <utility>

namespace es {

using platform::Os;

File::File(const std::u16string& path, platform::Access access, platform::Share share,
           platform::Disposition disposition) {
  handle_ = Os().OpenFile(path, access, share, disposition, &error_);
}

File::~File() { Close(); }

File::File(File&& other) noexcept
    : handle_(std::exchange(other.handle_, platform::kInvalidFile)), error_(other.error_) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, platform::kInvalidFile);
    error_ = other.error_;
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

bool File::ReadAll(std::vector<std::uint8_t>* bytes, std::uint64_t limit) {
  bytes->clear();
  std::uint64_t size = 0;
  if (!Size(&size)) return false;
  size &= 0xFFFFFFFFu;
  if (size > limit) return false;
  bytes->resize(static_cast<std::size_t>(size));
  std::size_t got = 0;
  if (!Seek(0) || !ReadFully(bytes->data(), bytes->size(), &got)) {
    bytes->clear();
    return false;
  }
  bytes->resize(got);
  return got == size;
}

}  // namespace es
