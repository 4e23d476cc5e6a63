// Shared pieces of the settings store tests: a scratch folder and BSTR arguments.
#pragma once

#include "es/Bstr.h"

#include <es/HostInterfaces.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace es::host::test {

namespace fs = std::filesystem;

// A BSTR made for one call, freed afterwards, as the module passes names.
class BstrArg {
 public:
  explicit BstrArg(std::u16string_view text) : text_(es::bstr::Alloc(text.data(), text.size())) {}
  ~BstrArg() { es::bstr::Free(text_); }
  BstrArg(const BstrArg&) = delete;
  BstrArg& operator=(const BstrArg&) = delete;
  operator Bstr() const { return text_; }

 private:
  Bstr text_;
};

// A BSTR received from the store; freed with the platform's BstrFree.
class BstrOut {
 public:
  BstrOut() = default;
  ~BstrOut() { es::bstr::Free(text_); }
  BstrOut(const BstrOut&) = delete;
  BstrOut& operator=(const BstrOut&) = delete;
  Bstr* operator&() { return &text_; }
  Bstr get() const { return text_; }
  std::u16string str() const { return text_ != nullptr ? std::u16string(text_) : std::u16string(); }

 private:
  Bstr text_ = nullptr;
};

// A fresh folder under the system's temporary folder, removed with its contents.
class ScratchFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device random;
    std::ostringstream name;
    name << "hostsettings-" << std::hex << random() << random();
    dir_ = fs::temp_directory_path() / name.str();
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(dir_, ec)) {
      fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
  }

  const fs::path& Dir() const { return dir_; }

  static void WriteFile(const fs::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
  }
  static std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  // Names of the entries of a folder, to see that no temporary file is left over.
  static std::vector<std::string> Listing(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
      const std::u8string name = entry.path().filename().u8string();
      names.emplace_back(name.begin(), name.end());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  fs::path dir_;
};

}  // namespace es::host::test
