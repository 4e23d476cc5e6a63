// The storages esproduce writes: consistent with the layout the module reads, and the
// same for the same seed.
#include <algorithm>
#include <set>
#include <stdexcept>

#include <gtest/gtest.h>

#include <Quillet.h>

#include "TreeSupport.h"
#include "src/attrs/AttributeIds.h"

namespace fs = std::filesystem;
using esproduce::AttrVersion;
using esproduce::Bytes;
using esproduce::GenerateOptions;
using producer_test::ReadBytes;
using producer_test::ReadText;
using producer_test::TempFolder;
using producer_test::Tree;

namespace {

std::uint32_t U32(const Bytes& b, std::size_t at) {
  return b.at(at) | (b.at(at + 1) << 8) | (b.at(at + 2) << 16) | (std::uint32_t{b.at(at + 3)} << 24);
}
std::int16_t I16(const Bytes& b, std::size_t at) { return static_cast<std::int16_t>(b.at(at) | (b.at(at + 1) << 8)); }

fs::path Write(const fs::path& root, const GenerateOptions& options) {
  std::string error;
  EXPECT_TRUE(esproduce::WriteStorage(root, esproduce::GenerateStorage(options), &error)) << error;
  return root;
}

std::set<std::string> PageFiles(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().extension() == ".pg") names.insert(esproduce::PathToUtf8(entry.path().filename()));
  return names;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  EXPECT_EQ(start, text.size()) << "text does not end in CR LF";
  return lines;
}

std::u16string Text(CAttrContainer& container, std::uint32_t id) {
  AttrVariant value{};
  if (!container.Get(id, &value, 0)) return u"<absent>";
  return std::u16string(value.text, value.textLength);
}

}  // namespace

TEST(GenerateStorage, SameSeedSameBytesOtherSeedOtherBytes) {
  for (AttrVersion version : {AttrVersion::V1, AttrVersion::V2, AttrVersion::None}) {
    TempFolder temp;
    GenerateOptions options;
    options.groups = 2;
    options.documents = 4;
    options.pages = 2;
    options.attrVersion = version;
    options.commands = options.kvattr = options.groupOrder = true;
    options.description = "Demo";
    options.seed = 5;
    const auto first = Tree(Write(temp.path() / "a", options));
    const auto second = Tree(Write(temp.path() / "b", options));
    EXPECT_EQ(first.size(), 1u + 1u + 2u * (1u + 2u + 4u * (1u + 2u + 2u)) + (version == AttrVersion::None ? 0u : 8u));
    EXPECT_EQ(first, second);
    options.seed = 6;
    EXPECT_NE(first, Tree(Write(temp.path() / "c", options)));
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

TEST(GenerateStorage, Version2FilesAnnounceThePagesThatExist) {
  TempFolder temp;
  GenerateOptions options;
  options.documents = 2;
  options.pages = 3;
  options.commands = true;
  options.kvattr = true;
  Write(temp.path(), options);
  const fs::path document = temp.path() / "Group001" / "Doc00002";
  const Bytes file = ReadBytes(document / "SC_ATTR.BIN");
  ASSERT_GE(file.size(), 16u);
  EXPECT_EQ(I16(file, 2), 0x0200);
  EXPECT_EQ(U32(file, 8), 3u);
  const std::uint32_t documentSize = U32(file, 12);
  CAttrContainer documentAttrs(2);
  ASSERT_LE(16u + documentSize, file.size());
  ASSERT_NE(documentAttrs.CreateFromBuffer(file.data() + 16, 1, documentSize), 0);
  const std::u16string barcode = Text(documentAttrs, es::attrs::kDocBarcode);
  EXPECT_EQ(barcode.size(), 10u);
  EXPECT_EQ(Text(documentAttrs, es::attrs::kDocPileIndex), u"2");

  std::size_t at = 16 + documentSize;
  for (std::uint32_t page = 1; page <= 3; ++page) {
    EXPECT_EQ(U32(file, at), page);
    const std::uint32_t size = U32(file, at + 4);
    ASSERT_LE(at + 8 + size, file.size());
    CAttrContainer pageAttrs(1);
    ASSERT_NE(pageAttrs.CreateFromBuffer(file.data() + at + 8, 1, size), 0);
    long resolution = 0;
    ASSERT_NE(pageAttrs.GetAttr(es::attrs::kPageResolutionX, &resolution, 0), 0);
    EXPECT_TRUE(resolution == 200 || resolution == 300) << resolution;
    at += 8 + size;
  }
  EXPECT_EQ(at, file.size());
  EXPECT_EQ(PageFiles(document), (std::set<std::string>{"1.pg", "2.pg", "3.pg"}));

  const std::string barcode8(barcode.begin(), barcode.end());
  EXPECT_EQ(Lines(ReadText(document / "COMMANDS")),
            (std::vector<std::string>{"BARCODE " + barcode8, "PILE_INDEX 2", "SCANBATCH B1-1", "SCANFOLDER Group001"}));
  EXPECT_EQ(ReadText(document / "KVATTR"), "DOCUMENT=Doc00002\r\nBARCODE=" + barcode8 + "\r\n");
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

TEST(GenerateStorage, RefusesCountsOutOfRangeAndSeparatorsInThePrefix) {
  GenerateOptions options;
  options.documents = -1;
  EXPECT_THROW(esproduce::GenerateStorage(options), std::invalid_argument);
  options.documents = 1;
  options.pages = esproduce::kMaxPages + 1;
  EXPECT_THROW(esproduce::GenerateStorage(options), std::invalid_argument);
  options.pages = 0;
  options.groupPrefix = "a/b";
  EXPECT_THROW(esproduce::GenerateStorage(options), std::invalid_argument);
  options.groupPrefix = "";
  EXPECT_EQ(esproduce::GenerateStorage(options).groups.at(0).folderName, "001");
}
