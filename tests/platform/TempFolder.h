// The shared temporary folder with paths in the module's text, handles that close
// themselves, and seam values readable in failure messages.
#pragma once

#include <filesystem>
#include <ostream>

#include "platform/Platform.h"
#include "tests/support/TempFolder.h"

namespace es::platform {

inline void PrintTo(Error error, std::ostream* out) {
  static const char* const kNames[] = {"None", "NotFound", "AccessDenied", "SharingViolation", "AlreadyExists",
                                       "NotEmpty", "InvalidArgument", "Io", "Injected", "IsLink", "WrongType"};
  const auto index = static_cast<std::size_t>(error);
  *out << (index < std::size(kNames) ? kNames[index] : "?");
}
inline void PrintTo(EntryType type, std::ostream* out) {
  static const char* const kNames[] = {"File", "Folder", "Link", "Other"};
  const auto index = static_cast<std::size_t>(type);
  *out << (index < std::size(kNames) ? kNames[index] : "?");
}

}  // namespace es::platform

namespace es::platform::testing {

// Paths joined as the module's text: a name that is not UTF-8 (U+DC80 + byte) cannot pass
// through std::filesystem.
class TempFolder : public estest::TempFolder {
 public:
  TempFolder() : estest::TempFolder("es-plat") {}
  Str Path() const { return estest::TempFolder::Path(); }
  Str Path(const Str& name) const { return Path() + kPathSep + name; }
};

// Close what they hold, so that a failed expectation leaves no lock behind.
struct File {
  explicit File(FileHandle handle) : handle(handle) {}
  ~File() { Os().Close(handle); }
  File(const File&) = delete;
  bool ok() const { return handle != kInvalidFile; }
  FileHandle handle;
};
struct Folder {
  explicit Folder(FolderHandle handle) : handle(handle) {}
  ~Folder() { Os().CloseFolder(handle); }
  Folder(const Folder&) = delete;
  bool ok() const { return handle != kInvalidFolder; }
  FolderHandle handle;
};

// The rest of a file, read through the seam; a read at its end must succeed with nothing.
inline std::string ReadRest(FileHandle file) {
  std::string bytes = file == kInvalidFile ? "<not open>" : "";
  char buffer[256];
  std::size_t got = 0;
  bool read = false;
  while ((read = Os().Read(file, buffer, sizeof buffer, &got)) && got > 0) bytes.append(buffer, got);
  return read ? bytes : bytes + "<read failed>";
}

}  // namespace es::platform::testing
