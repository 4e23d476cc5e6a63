// A fresh folder under the system's temporary folder, removed with everything in it when
// the test ends, also what the test made read-only (Windows keeps a read-only file, POSIX
// a folder without write permission). Files are written and read through the standard
// library, never through the code under test.
#pragma once

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <string_view>

namespace estest {

// A file's bytes, read through the standard library; empty when it cannot be read.
inline std::string ReadFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

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
  std::string Read(const std::filesystem::path& relative) const { return ReadFile(root / relative); }
  bool Exists(const std::filesystem::path& relative) const {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(root / relative, ec));
  }

  std::filesystem::path root;
};

// What `Tree` tells of each entry beside a file's bytes and a link's target.
enum class TreeFacts { None, Kinds, Times };

// Everything below `root` by relative path ("/" between names, a folder's ending in "/"):
// a file's bytes, a link's target; with `Kinds` first its type and permissions, with
// `Times` also its modification time. Compared before and after, it shows any change.
inline std::map<std::string, std::string> Tree(const std::filesystem::path& root, TreeFacts facts = TreeFacts::Kinds) {
  namespace fs = std::filesystem;
  std::map<std::string, std::string> tree;
  for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
    const fs::file_status status = it->symlink_status();
    const std::u8string name = it->path().lexically_relative(root).generic_u8string();
    std::string& item = tree[std::string(name.begin(), name.end()) + (fs::is_directory(status) ? "/" : "")];
    if (facts != TreeFacts::None)
      item = std::to_string(static_cast<int>(status.type())) + " " + std::to_string(static_cast<int>(status.permissions())) + " ";
    if (facts == TreeFacts::Times) item += std::to_string(fs::last_write_time(it->path()).time_since_epoch().count()) + " ";
    if (fs::is_symlink(status)) {
      item += "-> " + fs::read_symlink(it->path()).string();
    } else if (fs::is_regular_file(status)) {
      item += ReadFile(it->path());
    }
  }
  return tree;
}

}  // namespace estest
