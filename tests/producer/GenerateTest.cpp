// The storages esproduce writes: consistent with the layout the module reads, and the
// same for the same seed.
#include <algorithm>
#include <set>
#include <stdexcept>

#include <gtest/gtest.h>

#include "TreeSupport.h"

namespace fs = std::filesystem;
using esproduce::AttrVersion;
using esproduce::Bytes;
using esproduce::GenerateOptions;
using producer_test::PageFiles;
using producer_test::Lines;
using producer_test::ReadBytes;
using producer_test::ReadText;
using producer_test::Small;
using producer_test::TempFolder;
using producer_test::Tree;
using producer_test::U32;
using producer_test::Write;

namespace {

std::int16_t I16(const Bytes& b, std::size_t at) { return static_cast<std::int16_t>(b.at(at) | (b.at(at + 1) << 8)); }

}  // namespace

// Written as it is generated or as a whole plan, the same seed gives the same tree.
TEST(GenerateStorage, SameSeedSameBytesOtherSeedOtherBytes) {
  for (AttrVersion version : {AttrVersion::V1, AttrVersion::V2, AttrVersion::None}) {
    SCOPED_TRACE(static_cast<int>(version));
    TempFolder temp;
    GenerateOptions options = Small();
    options.groups = 2;
    options.documents = 5;
    options.pages = 2;
    options.attrVersion = version;
    options.pdfDocuments = options.damagedDocuments = options.missingPageDocuments = options.extraPageDocuments = 1;
    options.commands = options.kvattr = options.groupOrder = true;
    options.description = "Demo";
    options.seed = 5;
    const auto streamed = Tree(Write(temp.path() / "a", options));
    // Per group: the PDF document and the one with a missing page lack a page file, the
    // one with an extra page has one more.
    EXPECT_EQ(streamed.size(),
              2u + 2u * (3u + 5u * (1u + 2u + 2u) - 1u) + (version == AttrVersion::None ? 0u : 10u));
    EXPECT_EQ(streamed, Tree(Write(temp.path() / "b", options)));
    std::string error;
    ASSERT_TRUE(esproduce::WriteStorage(temp.path() / "c", esproduce::GenerateStorage(options), &error)) << error;
    EXPECT_EQ(streamed, Tree(temp.path() / "c"));
    options.seed = 6;
    EXPECT_NE(streamed, Tree(Write(temp.path() / "d", options)));
  }
}

TEST(GenerateStorage, GroupsHaveLockAndShuffledOrderFiles) {
  TempFolder temp;
  GenerateOptions options;
  options.groups = 2;
  options.documents = 12;
  options.groupPrefix = "Gr\xC3\xBC";  // "Grü"
  options.groupOrder = true;
  options.seed = 3;
  Write(temp.path(), options);
  std::vector<std::string> expectedGroups = {"Gr\xFC" "001", "Gr\xFC" "002"};
  auto groups = Lines(ReadText(temp.path() / "Doc_Order.txt"));
  std::sort(groups.begin(), groups.end());
  EXPECT_EQ(groups, expectedGroups);

  const fs::path group = temp.path() / esproduce::PathFromUtf8("Gr\xC3\xBC" "001");
  EXPECT_EQ(ReadText(group / "GR_LOCK.TXT"), "Gr\xFC" "001");
  const auto order = Lines(ReadText(group / "Doc_Order.txt"));
  std::vector<std::string> sorted = order;
  std::sort(sorted.begin(), sorted.end());
  std::vector<std::string> folders;
  for (const auto& entry : fs::directory_iterator(group))
    if (entry.is_directory()) folders.push_back(esproduce::PathToUtf8(entry.path().filename()));
  std::sort(folders.begin(), folders.end());
  EXPECT_EQ(sorted, folders);
  EXPECT_EQ(folders.front(), "Doc00001");
  EXPECT_NE(order, sorted) << "twelve documents should not come out in folder order";
  EXPECT_FALSE(fs::exists(temp.path() / "ESDesc.txt"));
}

TEST(GenerateStorage, Version1FilesNamePagesByTheirValueRecords) {
  TempFolder temp;
  GenerateOptions options;
  options.pages = 3;
  options.attrVersion = AttrVersion::V1;
  options.seed = 9;
  Write(temp.path(), options);
  const fs::path document = temp.path() / "Group001" / "Doc00001";
  const Bytes file = ReadBytes(document / "SC_ATTR.BIN");
  ASSERT_GE(file.size(), 16u);
  EXPECT_EQ(I16(file, 2), 0x0100);

  std::set<int> kinds;
  const auto walk = [&](std::size_t at, int count, std::set<int>& types, std::uint32_t* value) {
    for (int i = 0; i < count; ++i) {
      const int type = I16(file, at);
      const int length = I16(file, at + 2);
      ASSERT_GE(length, 5);
      ASSERT_LE(at + length, file.size());
      types.insert(type);
      kinds.insert(file[at + 4]);
      if (type == esproduce::v1::kPageValue && length == 9) *value = U32(file, at + 5);
      at += length;
    }
  };
  std::set<int> documentTypes;
  std::uint32_t unused = 0;
  walk(U32(file, 8), I16(file, 12), documentTypes, &unused);
  EXPECT_EQ(documentTypes, (std::set<int>{0, 1, 2, 3}));

  ASSERT_EQ(I16(file, 14), 3);
  std::set<std::string> named;
  for (int page = 0; page < 3; ++page) {
    std::set<int> types;
    std::uint32_t value = 0;
    walk(U32(file, 16 + 8 * page), I16(file, 16 + 8 * page + 4), types, &value);
    EXPECT_EQ(types.size(), 17u);
    EXPECT_EQ(*types.begin(), 0x100);
    EXPECT_EQ(*types.rbegin(), 0x110);
    named.insert(esproduce::PageFileNameV1(value));
  }
  EXPECT_EQ(kinds, (std::set<int>{0, 1, 2}));
  EXPECT_EQ(named.size(), 3u);
  EXPECT_EQ(PageFiles(document), named);
}

TEST(GenerateStorage, WithoutAttributeFilesThePagesAreNumbered) {
  TempFolder temp;
  GenerateOptions options;
  options.pages = 2;
  options.attrVersion = AttrVersion::None;
  options.description = "Caf\xC3\xA9";
  Write(temp.path(), options);
  const fs::path document = temp.path() / "Group001" / "Doc00001";
  EXPECT_FALSE(fs::exists(document / "SC_ATTR.BIN"));
  EXPECT_FALSE(fs::exists(document / "COMMANDS"));
  EXPECT_EQ(PageFiles(document), (std::set<std::string>{"1.pg", "2.pg"}));
  EXPECT_EQ(ReadText(temp.path() / "ESDesc.txt"), "Caf\xE9\r\n");
}

static void Roles(GenerateOptions& options) {
  options.documents = 10;
  options.pdfDocuments = options.damagedDocuments = options.missingPageDocuments = 2;
}

TEST(GenerateStorage, RefusesOptionsOutOfRange) {
  const struct {
    const char* name;
    void (*change)(GenerateOptions&);
  } rows[] = {
      {"negative document count", [](GenerateOptions& o) { o.documents = -1; }},
      {"too many pages", [](GenerateOptions& o) { o.pages = esproduce::kMaxPages + 1; }},
      {"separator in the group prefix", [](GenerateOptions& o) { o.groupPrefix = "a/b"; }},
      {"eleven roles for ten documents", [](GenerateOptions& o) { Roles(o), o.extraPageDocuments = 5; }},
      {"roles without pages", [](GenerateOptions& o) { Roles(o), o.extraPageDocuments = 0, o.pages = 0; }},
      {"resolution too high", [](GenerateOptions& o) { o.dpi = esproduce::kMaxDpi + 1; }},
      {"page too wide", [](GenerateOptions& o) {
         o.pageSize = esproduce::PageSize{esproduce::kMaxPixelSide + 1, 10, esproduce::PageSize::Unit::Pixel};
       }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    GenerateOptions options = Small();
    row.change(options);
    EXPECT_THROW(esproduce::GenerateStorage(options), std::invalid_argument);
  }
  GenerateOptions options;
  options.groupPrefix = "";
  EXPECT_EQ(esproduce::GenerateStorage(options).groups.at(0).folderName, "001");
}
