// A fresh folder under the system's temporary folder, removed with everything in it when
// the test ends, also what the test made read-only (Windows keeps a read-only file, POSIX
// a folder without write permission). Files are written and read through the standard
// library, never through the code under test.
#pragma once

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>

namespace estest {

class TempFolder {
 public:
  explicit TempFolder(std::string_view prefix = "es-test") {
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    root = std::filesystem::temp_directory_path() /
           (std::string(prefix) + "-" + std::to_string(random()) + "-" + std::to_string(++counter));
    std::filesystem::create_directories(root);
  }
  ~TempFolder() {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ec);
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
      std::error_code ignored;
      if (!it->is_symlink(ignored)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(root, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& Root() const { return root; }
  std::filesystem::path operator/(const std::filesystem::path& relative) const { return root / relative; }
  std::u16string Path() const { return root.u16string(); }
  std::u16string Path(const std::filesystem::path& relative) const { return (root / relative).u16string(); }

  // Writes a file, making the folders above it.
  void Write(const std::filesystem::path& relative, std::string_view bytes) const {
    std::filesystem::create_directories((root / relative).parent_path());
    std::ofstream out(root / relative, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  std::string Read(const std::filesystem::path& relative) const {
    std::ifstream in(root / relative, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  bool Exists(const std::filesystem::path& relative) const {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(root / relative, ec));
  }

  std::filesystem::path root;
};

}  // namespace estest
