#include "Source.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace pictorn {

bool MemorySource::ReadAt(std::uint64_t offset, void* buffer, std::size_t count) {
  if (offset > size_ || count > size_ - offset) return false;
  if (count != 0) std::memcpy(buffer, data_ + offset, count);
  return true;
}

namespace {

// Reads at most this much per system call (a Win32 read takes a 32-bit count).
constexpr std::size_t kChunk = std::size_t{1} << 30;

class FileSource : public Source {
 public:
  FileSource(std::intptr_t file, std::uint64_t size) : file_(file), size_(size) {}
  std::uint64_t Size() const override { return size_; }

  bool ReadAt(std::uint64_t offset, void* buffer, std::size_t count) override {
    if (offset > size_ || count > size_ - offset) return false;
    auto* out = static_cast<std::uint8_t*>(buffer);
    while (count > 0) {
      const std::size_t want = count < kChunk ? count : kChunk;
      std::size_t got = 0;
      if (!ReadSome(offset, out, want, &got) || got == 0) return false;  // shrunk meanwhile
      offset += got;
      out += got;
      count -= got;
    }
    return true;
  }

 private:
#ifdef _WIN32
  bool ReadSome(std::uint64_t offset, std::uint8_t* out, std::size_t want, std::size_t* got) {
    // An offset in the OVERLAPPED structure reads there on a synchronous handle too.
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD read = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(file_), out, static_cast<DWORD>(want), &read, &at)) {
      return false;
    }
    *got = read;
    return true;
  }
#else
  bool ReadSome(std::uint64_t offset, std::uint8_t* out, std::size_t want, std::size_t* got) {
    for (;;) {
      const ssize_t n = pread(static_cast<int>(file_), out, want, static_cast<off_t>(offset));
      if (n >= 0) {
        *got = static_cast<std::size_t>(n);
        return true;
      }
      if (errno != EINTR) return false;
    }
  }
#endif

  std::intptr_t file_;
  std::uint64_t size_;
};

}  // namespace

bool IdentifyFile(std::intptr_t file, FileIdentity* identity) {
#ifdef _WIN32
  BY_HANDLE_FILE_INFORMATION info;
  if (file == 0 || file == -1 || !GetFileInformationByHandle(reinterpret_cast<HANDLE>(file), &info)) return false;
  identity->device = info.dwVolumeSerialNumber;
  identity->file = std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow;
  identity->size = std::uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow;
  identity->changed = std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32 | info.ftLastWriteTime.dwLowDateTime;
#else
  struct stat st;
  if (file < 0 || file > INT32_MAX || fstat(static_cast<int>(file), &st) != 0) return false;
  identity->device = static_cast<std::uint64_t>(st.st_dev);
  identity->file = static_cast<std::uint64_t>(st.st_ino);
  identity->size = static_cast<std::uint64_t>(st.st_size);
  identity->changed = static_cast<std::uint64_t>(st.st_mtim.tv_sec) * 1000000000u +
                      static_cast<std::uint64_t>(st.st_mtim.tv_nsec);
#endif
  return true;
}

std::unique_ptr<Source> OpenFileSource(std::intptr_t file, std::string* why) {
  std::uint64_t size = 0;
#ifdef _WIN32
  LARGE_INTEGER value;
  if (file == 0 || file == -1 || !GetFileSizeEx(reinterpret_cast<HANDLE>(file), &value)) {
    *why = "the file's size cannot be had (Win32 error " + std::to_string(GetLastError()) + ")";
    return nullptr;
  }
  size = static_cast<std::uint64_t>(value.QuadPart);
#else
  struct stat st;
  if (file < 0 || file > INT32_MAX) {
    *why = "no open file";
    return nullptr;
  }
  if (fstat(static_cast<int>(file), &st) != 0) {
    *why = std::string("the file's size cannot be had: ") + std::strerror(errno);
    return nullptr;
  }
  if (!S_ISREG(st.st_mode)) {
    *why = "not a regular file";
    return nullptr;
  }
  size = static_cast<std::uint64_t>(st.st_size);
#endif
  return std::make_unique<FileSource>(file, size);
}

}  // namespace pictorn
