// Shared pieces of the attribute-file tests: module attach, temporary folders, reading
// values back from containers, and walking a file as the document import would.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Quillet.h"
#include "attrs/DocAttrsImport.h"
#include "attrs/DocAttrsImportV1.h"
#include "frame/App.h"
#include "base/Text.h"
#include "platform/Platform.h"
#include "tests/support/TempFolder.h"

namespace attrtest {

using Bytes = std::vector<std::uint8_t>;

// String resources resolve only once the core is attached as the module would be.
class AttachEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { es::ModuleAttach(es::platform::ThisModuleHandle()); }
};

class TempFolder : public estest::TempFolder {
 public:
  TempFolder() : estest::TempFolder("es-attrs") {}
  // Writes the file and gives its path in the module's text.
  es::Str Write(const std::string& name, const Bytes& bytes) const {
    estest::TempFolder::Write(name, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    return Path() + es::platform::kPathSep + es::FromAscii(name);
  }
};

inline long Number(const CAttrContainer& c, std::uint32_t id) {
  long value = 0x7EADBEEF;
  EXPECT_NE(0, c.GetAttr(id, &value, 0)) << std::hex << "attribute 0x" << id << " missing";
  return value;
}

inline std::u16string Text(CAttrContainer& c, std::uint32_t id) {
  AttrVariant v{};
  if (!c.Get(id, &v, 0)) {
    ADD_FAILURE() << std::hex << "attribute 0x" << id << " missing";
    return u"<missing>";
  }
  return std::u16string(v.text, v.textLength);
}

inline Bytes Binary(CAttrContainer& c, std::uint32_t id) {
  AttrVariant v{};
  if (!c.Get(id, &v, 0)) {
    ADD_FAILURE() << std::hex << "attribute 0x" << id << " missing";
    return {};
  }
  return Bytes(v.bytes, v.bytes + v.size);
}

// Page records take at least 8 bytes (version 2) or a page-table entry (version 1), so
// a file cannot hold more pages than this; a larger announced count is walked no further.
inline std::int32_t PagesWorthWalking(std::int32_t announced, std::size_t fileSize) {
  const auto most = static_cast<std::int64_t>(fileSize / 8 + 2);
  return static_cast<std::int32_t>(std::min<std::int64_t>(announced, most));
}

// Everything the import would read from a version-2 file; false when it would not load.
inline bool WalkV2(const Bytes& bytes) {
  es::CDocAttrsImport reader;
  if (!reader.LoadBytes(bytes)) return false;
  es::AttrFileHeader header;
  reader.GetHeader(&header);
  CAttrContainer document(2);
  std::int32_t pages = 0;
  if (!reader.ReadDocumentAttributes(&document, &pages)) return true;
  for (std::int32_t i = -1; i <= PagesWorthWalking(pages, bytes.size()); ++i) {
    CAttrContainer page(1);
    std::uint32_t value = 0;
    reader.ReadPageAttributes(i, &page, &value);
  }
  return true;
}

inline bool WalkV1(const Bytes& bytes) {
  es::CDocAttrsImportV1 reader;
  if (!reader.LoadBytes(bytes)) return false;
  es::AttrFileHeader header;
  reader.GetHeader(&header);
  es::DocAttrsV1 record;
  reader.ReadDocumentAttributes(&record);
  for (std::int32_t i = -1; i <= PagesWorthWalking(record.pageCount, bytes.size()); ++i) {
    CAttrContainer page(1);
    std::uint32_t value = 0;
    reader.ReadPageAttributes(i, &page, &value);
  }
  return true;
}

// Flips, overwrites, cuts or extends a few bytes of `bytes`.
inline Bytes Mutate(Bytes bytes, std::mt19937& random) {
  std::uniform_int_distribution<int> byteValue(0, 255);
  const int edits = 1 + static_cast<int>(random() % 6);
  for (int e = 0; e < edits && !bytes.empty(); ++e) {
    const std::size_t at = random() % bytes.size();
    switch (random() % 6) {
      case 0: bytes[at] = static_cast<std::uint8_t>(byteValue(random)); break;
      case 1: bytes[at] ^= static_cast<std::uint8_t>(1u << (random() % 8)); break;
      case 2: bytes[at] = 0xFF; break;
      case 3: bytes[at] = 0x80; break;  // turns a small number negative or huge
      case 4: bytes.resize(at); break;
      default: bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), static_cast<std::uint8_t>(byteValue(random)));
    }
  }
  return bytes;
}

}  // namespace attrtest
