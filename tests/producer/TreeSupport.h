// Temporary folders and file reading for the producer's tests.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "producer/Producer.h"
#include "tests/support/TempFolder.h"

// Options and plans name only the fields they set; the others keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace producer_test {

using namespace esproduce;
namespace fs = std::filesystem;

using estest::ReadFile;
using estest::TempFolder;

inline Bytes ReadBytes(const fs::path& path) {
  const std::string text = ReadFile(path);
  return Bytes(text.begin(), text.end());
}

// Every file and folder below `root` with the file contents.
inline std::map<std::string, std::string> Tree(const fs::path& root) { return estest::Tree(root, estest::TreeFacts::None); }

// The lines of a text that ends every line in CR LF.
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  EXPECT_EQ(start, text.size()) << "text does not end in CR LF";
  return lines;
}

inline std::uint32_t U32(const Bytes& b, std::size_t at) {
  return b.at(at) | (b.at(at + 1) << 8) | (b.at(at + 2) << 16) | (std::uint32_t{b.at(at + 3)} << 24);
}

// The names of the page files ("*.pg") of a document folder.
inline std::set<std::string> PageFiles(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().extension() == ".pg") names.insert(PathToUtf8(entry.path().filename()));
  return names;
}

// A generated storage written to `root` as esproduce writes it.
inline fs::path Write(const fs::path& root, const GenerateOptions& options, GenerateReport* report = nullptr) {
  std::string error;
  EXPECT_TRUE(WriteGenerated(root, options, report, &error)) << error;
  return root;
}

// Small pages, quick to encode (with a resolution of 100).
inline const PageSize kSmallPage{800, 600, PageSize::Unit::Pixel};

}  // namespace producer_test
