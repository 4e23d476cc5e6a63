// A fresh folder under the system's temporary folder for storage tests, removed with
// everything in it. Files are written through the standard library, not the seam.
#pragma once

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "base/Text.h"

namespace estest {

class StorageTempDir {
 public:
  StorageTempDir() {
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    root_ = std::filesystem::temp_directory_path() /
            ("es-list-" + std::to_string(random()) + "-" + std::to_string(++counter));
    std::filesystem::create_directories(root_);
  }
  ~StorageTempDir() {
    std::error_code error;
    std::filesystem::remove_all(root_, error);
  }
  StorageTempDir(const StorageTempDir&) = delete;
  StorageTempDir& operator=(const StorageTempDir&) = delete;

  const std::filesystem::path& Root() const { return root_; }
  es::Str Path() const { return root_.u16string(); }
  es::Str Path(const std::filesystem::path& relative) const { return (root_ / relative).u16string(); }

  void MakeDir(const std::filesystem::path& relative) const { std::filesystem::create_directories(root_ / relative); }
  void Write(const std::filesystem::path& relative, const std::string& bytes) const {
    std::filesystem::create_directories((root_ / relative).parent_path());
    std::ofstream out(root_ / relative, std::ios::binary);
    out << bytes;
  }

 private:
  std::filesystem::path root_;
};

}  // namespace estest
