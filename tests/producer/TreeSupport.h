// Temporary folders and file reading for the producer's tests.
#pragma once

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include <gtest/gtest.h>

#include "producer/Producer.h"

namespace producer_test {

// A fresh folder below the temporary folder, removed with everything in it.
class TempFolder {
 public:
  TempFolder() {
    static std::atomic<int> counter{0};
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string name = std::string("esproduce-") + (info ? info->name() : "test") + "-" +
                             std::to_string(counter++) + "-" + std::to_string(std::rand());
    path_ = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ec;
    // Read-only files must become writable before Windows lets them go.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline std::string ReadText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline esproduce::Bytes ReadBytes(const std::filesystem::path& path) {
  const std::string text = ReadText(path);
  return esproduce::Bytes(text.begin(), text.end());
}

// Every file and folder below `root`, by relative path ("/" separated; folders end in
// "/"), with the file contents.
inline std::map<std::string, std::string> Tree(const std::filesystem::path& root) {
  std::map<std::string, std::string> tree;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
    std::string relative = esproduce::PathToUtf8(entry.path().lexically_relative(root));
    for (char& c : relative)
      if (c == '\\') c = '/';
    if (entry.is_directory())
      tree[relative + "/"] = "";
    else
      tree[relative] = ReadText(entry.path());
  }
  return tree;
}

}  // namespace producer_test
