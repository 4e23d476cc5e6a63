// Random access to the bytes of a page file or of a buffer, never past their end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pictorn {

using Bytes = std::vector<std::uint8_t>;

class Source {
 public:
  virtual ~Source() = default;
  virtual std::uint64_t Size() const = 0;
  // Reads exactly `count` bytes at `offset`; false when they are not all there.
  virtual bool ReadAt(std::uint64_t offset, void* buffer, std::size_t count) = 0;
};

class MemorySource : public Source {
 public:
  MemorySource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint64_t Size() const override { return size_; }
  bool ReadAt(std::uint64_t offset, void* buffer, std::size_t count) override;

 private:
  const std::uint8_t* data_;
  std::size_t size_;
};

// What tells one file from another, and a file from itself after a change.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t file = 0;
  std::uint64_t size = 0;
  std::uint64_t changed = 0;  // time of the last change, in the platform's units
  bool operator==(const FileIdentity&) const = default;
};
// False when the platform cannot tell.
bool IdentifyFile(std::intptr_t file, FileIdentity* identity);

// An open file of the platform (POSIX descriptor or Win32 HANDLE). Reads at explicit
// offsets and leaves the file's own position to its owner. Null (with the reason) when
// the file's size cannot be had.
std::unique_ptr<Source> OpenFileSource(std::intptr_t file, std::string* why);

}  // namespace pictorn
