// Writing storages, groups and documents to disk.
#include "TreeSupport.h"

using namespace producer_test;

namespace {

bool IsReadOnly(const fs::path& path) {
  return (fs::status(path).permissions() & fs::perms::owner_write) == fs::perms::none;
}

}  // namespace

TEST(WriteStorage, WritesTheWholeTreeAndNothingElse) {
  const DocumentPlan d1{.folderName = "D1", .attributeFile = Bytes{0, 0, 0, 2}, .commands = "BARCODE 1\r\n",
                        .kvattr = Bytes{'k', '\r', '\n'},
                        .files = {{"1.pg", {'p', 0, 'g'}, false}, {"notes/extra.txt", {'x'}, false}}};
  const DocumentPlan utf8{.folderName = "D\xC3\xB6k", .files = {{"\xE2\x82\xAC.pg", {'e'}, false}}};  // "Dök/€.pg"
  const StoragePlan storage{
      .description = "Archive\r\n",
      .groupOrder = std::vector<std::string>{"G2", "G1"},
      .groups = {{.folderName = "G1", .lockText = "First group", .order = std::vector<std::string>{"D2", "D1"},
                  .documents = {d1, {.folderName = "D2"}, utf8}},
                 {.folderName = "G2"},  // neither lock nor order file
                 {.folderName = "empty", .order = std::vector<std::string>{}},
                 // exactly these bytes, without a final line end
                 {.folderName = "raw", .order = std::vector<std::string>{"ignored"}, .rawOrderFile = "A\nB"},
                 {.folderName = "one", .order = std::vector<std::string>{"Doc 1"}}}};
  TempFolder temp;
  std::string error;
  ASSERT_TRUE(WriteStorage(temp.Root() / "store", storage, &error)) << error;
  const std::map<std::string, std::string> expected = {
      {"ESDesc.txt", "Archive\r\n"}, {"Doc_Order.txt", "G2\r\nG1\r\n"},
      {"G1/", ""}, {"G1/GR_LOCK.TXT", "First group"}, {"G1/Doc_Order.txt", "D2\r\nD1\r\n"},
      {"G1/D1/", ""}, {"G1/D1/SC_ATTR.BIN", std::string("\0\0\0\2", 4)}, {"G1/D1/COMMANDS", "BARCODE 1\r\n"},
      {"G1/D1/KVATTR", "k\r\n"}, {"G1/D1/1.pg", std::string("p\0g", 3)},
      {"G1/D1/notes/", ""}, {"G1/D1/notes/extra.txt", "x"},
      {"G1/D2/", ""}, {"G1/D\xC3\xB6k/", ""}, {"G1/D\xC3\xB6k/\xE2\x82\xAC.pg", "e"},
      {"G2/", ""}, {"empty/", ""}, {"empty/Doc_Order.txt", ""},
      {"raw/", ""}, {"raw/Doc_Order.txt", "A\nB"}, {"one/", ""}, {"one/Doc_Order.txt", "Doc 1\r\n"},
  };
  EXPECT_EQ(Tree(temp.Root() / "store"), expected);
}

TEST(WriteStorage, ReadOnlyFilesAreMarkedAndReplacedOnRewrite) {
  TempFolder temp;
  std::string error;
  DocumentPlan document{.folderName = "doc", .files = {{"1.pg", {'a'}, true}, {"2.pg", {'b'}, false}}};
  ASSERT_TRUE(WriteDocument(temp.Root(), document, &error)) << error;
  EXPECT_EQ(std::pair(IsReadOnly(temp / "doc/1.pg"), IsReadOnly(temp / "doc/2.pg")), std::pair(true, false));
  document.files = {FilePlan{"1.pg", {'c'}, false}};
  ASSERT_TRUE(WriteDocument(temp.Root(), document, &error)) << error;
  EXPECT_EQ(std::tuple(temp.Read("doc/1.pg"), temp.Read("doc/2.pg")), std::tuple("c", "b")) << "other files stay";
  EXPECT_FALSE(IsReadOnly(temp / "doc/1.pg"));
}

TEST(WriteStorage, FailuresNameThePathAndTheReason) {
  TempFolder temp;
  std::string error;
  temp.Write("plain-file", "x");
  EXPECT_FALSE(WriteStorage(temp / "plain-file", StoragePlan{}, &error));
  EXPECT_NE(error.find(PathToUtf8(temp / "plain-file")), std::string::npos) << error;
  EXPECT_NE(error.find("file of that name exists"), std::string::npos) << error;

  DocumentPlan document{.folderName = "doc", .files = {{"sub", {}, false}}};
  fs::create_directories(temp / "doc" / "sub");
  EXPECT_FALSE(WriteDocument(temp.Root(), document, &error));
  EXPECT_NE(error.find("sub"), std::string::npos) << error;
  EXPECT_NE(error.find("a folder of that name exists"), std::string::npos) << error;

  for (const std::string bad : {"", "a/b", "..", "."}) {
    error.clear();
    EXPECT_FALSE(WriteGroup(temp.Root(), {.folderName = bad}, &error)) << "'" << bad << "'";
    EXPECT_NE(error.find("invalid group folder name"), std::string::npos) << error;
  }
  document.files = {FilePlan{"../escape.pg", {}, false}};
  EXPECT_FALSE(WriteDocument(temp.Root(), document, &error));
  EXPECT_FALSE(fs::exists(temp / "escape.pg"));
}
