// A fresh folder under the system's temporary folder, removed with everything in it.
#pragma once

#include <atomic>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <random>
#include <string>

#include "platform/Platform.h"

namespace es::platform {

// Readable values in failure messages.
inline void PrintTo(Error error, std::ostream* out) {
  static const char* const kNames[] = {"None",    "NotFound", "AccessDenied", "SharingViolation",
                                       "AlreadyExists", "NotEmpty", "InvalidArgument", "Io",
                                       "Injected", "IsLink",   "WrongType"};
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

class TempFolder {
 public:
  TempFolder() {
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    const std::string name = "es-plat-" + std::to_string(random()) + "-" + std::to_string(++counter);
    root_ = std::filesystem::temp_directory_path() / name;
    std::filesystem::create_directories(root_);
  }

  ~TempFolder() {
    // Read-only files would stop the removal on Windows.
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(root_, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
      std::error_code ignored;
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::add, ignored);
    }
    std::filesystem::remove_all(root_, error);
  }

  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& Root() const { return root_; }
  Str Path() const { return root_.u16string(); }
  Str Path(const Str& name) const { return Path() + kPathSep + name; }

  // Writes a file with the given bytes through the standard library, not the seam.
  void Write(const std::filesystem::path& name, const std::string& bytes) const {
    std::ofstream out(root_ / name, std::ios::binary);
    out << bytes;
  }
  std::string ReadBack(const std::filesystem::path& name) const {
    std::ifstream in(root_ / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  std::filesystem::path root_;
};

}  // namespace es::platform::testing
