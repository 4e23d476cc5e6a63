// The storages esproduce writes: consistent with the layout the module reads.
#include <stdexcept>

#include "TreeSupport.h"

using namespace producer_test;

static std::int16_t I16(const Bytes& b, std::size_t at) { return static_cast<std::int16_t>(b.at(at) | (b.at(at + 1) << 8)); }

TEST(GenerateStorage, Version1FilesNamePagesByTheirValueRecords) {
  TempFolder temp;
  Write(temp.Root(), {.pages = 3, .attrVersion = AttrVersion::V1, .seed = 9});
  EXPECT_FALSE(temp.Exists("ESDesc.txt")) << "only when a description is given";
  const fs::path document = temp / "Group001" / "Doc00001";
  const Bytes file = ReadBytes(document / "SC_ATTR.BIN");
  ASSERT_GE(file.size(), 16u);
  EXPECT_EQ(I16(file, 2), 0x0100);

  // Every list as its record types; a page's value record (9 bytes) names its page file.
  std::set<int> kinds, pageTypes;
  std::set<std::string> named;
  const auto types = [&](std::size_t at, int count) {
    std::set<int> types;
    for (int i = 0, length = 0; i < count; ++i, at += static_cast<std::size_t>(length)) {
      const int type = I16(file, at);
      length = I16(file, at + 2);
      if (length < 5 || at + length > file.size()) {
        ADD_FAILURE() << "record at " << at << " of length " << length;
        break;
      }
      types.insert(type);
      kinds.insert(file[at + 4]);
      if (type == esproduce::v1::kPageValue && length == 9) named.insert(esproduce::PageFileNameV1(U32(file, at + 5)));
    }
    return types;
  };
  EXPECT_EQ(types(U32(file, 8), I16(file, 12)), (std::set<int>{0, 1, 2, 3}));
  ASSERT_EQ(I16(file, 14), 3);
  for (int type = 0x100; type <= 0x110; ++type) pageTypes.insert(type);
  for (int page = 0; page < 3; ++page) EXPECT_EQ(types(U32(file, 16 + 8 * page), I16(file, 20 + 8 * page)), pageTypes);
  EXPECT_EQ(kinds, (std::set<int>{0, 1, 2}));
  EXPECT_EQ(named.size(), 3u);
  EXPECT_EQ(PageFiles(document), named);
}

TEST(GenerateStorage, RefusesOptionsOutOfRange) {
  const struct { const char* name; void (*change)(GenerateOptions&); } rows[] = {
      {"negative document count", [](GenerateOptions& o) { o.documents = -1; }},
      {"too many pages", [](GenerateOptions& o) { o.pages = esproduce::kMaxPages + 1; }},
      {"separator in the group prefix", [](GenerateOptions& o) { o.groupPrefix = "a/b"; }},
      {"four roles for three documents", [](GenerateOptions& o) {
         o.documents = 3, o.pdfDocuments = o.damagedDocuments = o.missingPageDocuments = o.extraPageDocuments = 1;
       }},
      {"roles without pages", [](GenerateOptions& o) { o.damagedDocuments = 1, o.pages = 0; }},
      {"resolution too high", [](GenerateOptions& o) { o.dpi = esproduce::kMaxDpi + 1; }},
      {"page too wide", [](GenerateOptions& o) {
         o.pageSize = esproduce::PageSize{esproduce::kMaxPixelSide + 1, 10, esproduce::PageSize::Unit::Pixel};
       }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    GenerateOptions options{.pageSize = kSmallPage, .dpi = 100};
    row.change(options);
    EXPECT_THROW(esproduce::GenerateStorage(options), std::invalid_argument);
  }
  GenerateOptions options;
  options.groupPrefix = "";
  EXPECT_EQ(esproduce::GenerateStorage(options).groups.at(0).folderName, "001");
}
