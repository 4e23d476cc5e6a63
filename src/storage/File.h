// An open file of the platform seam, closed on every way out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace es {

class Folder;
struct Failure;

class File {
 public:
  File() = default;
  File(const std::u16string& path, platform::Access access, platform::Share share,
       platform::Disposition disposition = platform::Disposition::OpenExisting);
  // Regular file `name` of an open folder, never through a link.
  File(const Folder& folder, const std::u16string& name, platform::Access access, platform::Share share,
       platform::Disposition disposition = platform::Disposition::OpenExisting);
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool IsOpen() const { return handle_ != platform::kInvalidFile; }
  platform::Error OpenError() const { return error_; }
  // Why the file did not open, with the OS's words.
  Failure OpenFailure() const;
  platform::FileHandle Handle() const { return handle_; }
  void Close();

  bool Size(std::uint64_t* size) const;
  bool Seek(std::uint64_t offset);
  // Reads until `count` bytes arrived or the end of the file; `*got` tells how many.
  bool ReadFully(void* buffer, std::size_t count, std::size_t* got);
  bool Write(const void* data, std::size_t count);

  // Reads the whole file as its size reports it. Nothing is read from a file larger than
  // `limit` bytes. Short: the file ended before its size (what arrived is kept).
  enum class Whole { Read, TooLarge, Short, Failed };
  Whole ReadWhole(std::vector<std::uint8_t>* bytes, std::uint64_t limit);
  // True only for Whole::Read.
  bool ReadAll(std::vector<std::uint8_t>* bytes, std::uint64_t limit);

 private:
  platform::FileHandle handle_ = platform::kInvalidFile;
  platform::Error error_ = platform::Error::None;
  std::u16string errorText_;
};

}  // namespace es
