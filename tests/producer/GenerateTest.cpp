// The storages esproduce writes: consistent with the layout the module reads, and the
// same bytes for the same seed on every platform.
#include <algorithm>
#include <stdexcept>

#include "TreeSupport.h"

using namespace producer_test;

namespace {

std::int16_t I16(const Bytes& b, std::size_t at) { return static_cast<std::int16_t>(b.at(at) | (b.at(at + 1) << 8)); }

// FNV-1a over every path and content of the tree, in path order.
std::uint64_t Fingerprint(const std::map<std::string, std::string>& tree) {
  std::uint64_t hash = 14695981039346656037ull;
  const auto mix = [&hash](const std::string& bytes) {
    for (const char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    hash = (hash ^ 0xFF) * 1099511628211ull;
  };
  for (const auto& [path, content] : tree) mix(path), mix(content);
  return hash;
}

std::vector<std::string> Roles(const esproduce::GenerateReport& report) {
  std::vector<std::string> lines;
  for (const auto& s : report.specials)
    lines.push_back(std::string(esproduce::SpecialKindName(s.kind)) + " " + s.groupFolder + "/" + s.documentFolder +
                    " " + s.pageFile);
  return lines;
}

}  // namespace

// The encoders are portable C++ and the draws avoid the library's distributions, so
// Linux and Windows write the same bytes. A change of the generator changes these
// values on purpose: update them from the failure message after checking that the
// storage is still right. Written as it is generated or as a whole plan, the same seed
// gives the same tree and the same roles; another seed gives others.
TEST(GeneratedStorage, BytesFollowTheSeedAndAreTheSameOnEveryPlatform) {
  const struct { Compression compression; bool multipage; AttrVersion version; std::uint64_t fingerprint; } rows[] = {
      {Compression::None, false, AttrVersion::V2, 14378755332109128153ull},
      {Compression::Lzw, true, AttrVersion::V2, 15203203527179095790ull},
      {Compression::PackBits, false, AttrVersion::V1, 5272803957691064224ull},
      {Compression::CcittG3, false, AttrVersion::V2, 13621333077987349432ull},
      {Compression::CcittG4, false, AttrVersion::V2, 6957235684615829462ull},
      {Compression::CcittG4, false, AttrVersion::None, 4419239788315275807ull},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(esproduce::CompressionName(row.compression)) + " version " +
                 std::to_string(static_cast<int>(row.version)));
    TempFolder temp;
    GenerateOptions options{.groups = 2, .documents = 4, .pages = 2, .attrVersion = row.version, .commands = true,
                            .groupOrder = true, .seed = 21, .compression = row.compression, .pageSize = kSmallPage,
                            .dpi = 100, .multipage = row.multipage, .pdfDocuments = 1, .damagedDocuments = 1,
                            .extraPageDocuments = 1};
    esproduce::GenerateReport report, again, other;
    const auto tree = Tree(Write(temp / "a", options, &report));
    EXPECT_EQ(Fingerprint(tree), row.fingerprint);
    std::string error;
    ASSERT_TRUE(esproduce::WriteStorage(temp / "b", esproduce::GenerateStorage(options, &again), &error)) << error;
    EXPECT_EQ(Tree(temp / "b"), tree);
    EXPECT_EQ(Roles(again), Roles(report));
    options.seed = 22;
    EXPECT_NE(Tree(Write(temp / "c", options, &other)), tree);
    EXPECT_NE(Roles(other), Roles(report));
  }
}

TEST(GenerateStorage, GroupsHaveLockAndShuffledOrderFilesWithoutAttributeFilesPagesAreNumbered) {
  TempFolder temp;
  Write(temp.Root(), {.groups = 2, .documents = 12, .pages = 2, .attrVersion = AttrVersion::None,
                      .description = "Caf\xC3\xA9", .groupOrder = true, .seed = 3, .groupPrefix = "Gr\xC3\xBC"});
  EXPECT_EQ(temp.Read("ESDesc.txt"), "Caf\xE9\r\n");
  auto groups = Lines(temp.Read("Doc_Order.txt"));
  std::ranges::sort(groups);
  EXPECT_EQ(groups, (std::vector<std::string>{"Gr\xFC" "001", "Gr\xFC" "002"}));

  const fs::path group = temp / esproduce::PathFromUtf8("Gr\xC3\xBC" "001");  // "Grü001"
  EXPECT_EQ(ReadText(group / "GR_LOCK.TXT"), "Gr\xFC" "001");
  const auto order = Lines(ReadText(group / "Doc_Order.txt"));
  std::vector<std::string> sorted = order, folders;
  std::ranges::sort(sorted);
  for (const auto& entry : fs::directory_iterator(group))
    if (entry.is_directory()) folders.push_back(esproduce::PathToUtf8(entry.path().filename()));
  std::ranges::sort(folders);
  EXPECT_EQ(sorted, folders);
  EXPECT_EQ(folders.front(), "Doc00001");
  EXPECT_NE(order, sorted) << "twelve documents should not come out in folder order";
  EXPECT_FALSE(fs::exists(group / "Doc00001" / "SC_ATTR.BIN"));
  EXPECT_EQ(PageFiles(group / "Doc00001"), (std::set<std::string>{"1.pg", "2.pg"}));
}

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

static void SixRoles(GenerateOptions& options) {
  options.documents = 10;
  options.pdfDocuments = options.damagedDocuments = options.missingPageDocuments = 2;
}

TEST(GenerateStorage, RefusesOptionsOutOfRange) {
  const struct { const char* name; void (*change)(GenerateOptions&); } rows[] = {
      {"negative document count", [](GenerateOptions& o) { o.documents = -1; }},
      {"too many pages", [](GenerateOptions& o) { o.pages = esproduce::kMaxPages + 1; }},
      {"separator in the group prefix", [](GenerateOptions& o) { o.groupPrefix = "a/b"; }},
      {"eleven roles for ten documents", [](GenerateOptions& o) { SixRoles(o), o.extraPageDocuments = 5; }},
      {"roles without pages", [](GenerateOptions& o) { SixRoles(o), o.extraPageDocuments = 0, o.pages = 0; }},
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
