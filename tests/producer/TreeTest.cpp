// Writing storages, groups and documents to disk.
#include <gtest/gtest.h>

#include "TreeSupport.h"

namespace fs = std::filesystem;
using esproduce::DocumentPlan;
using esproduce::FilePlan;
using esproduce::GroupPlan;
using esproduce::StoragePlan;
using producer_test::ReadText;
using producer_test::TempFolder;
using producer_test::Tree;

namespace {

bool IsReadOnly(const fs::path& path) {
  return (fs::status(path).permissions() & fs::perms::owner_write) == fs::perms::none;
}

StoragePlan SampleStorage() {
  StoragePlan storage;
  storage.description = "Archive\r\n";
  storage.groupOrder = std::vector<std::string>{"G2", "G1"};
  GroupPlan first;
  first.folderName = "G1";
  first.lockText = "First group";
  first.order = std::vector<std::string>{"D2", "D1"};
  DocumentPlan d1;
  d1.folderName = "D1";
  d1.attributeFile = esproduce::Bytes{0, 0, 0, 2};
  d1.commands = "BARCODE 1\r\n";
  d1.kvattr = esproduce::Bytes{'k', '\r', '\n'};
  d1.files = {FilePlan{"1.pg", {'p', 0, 'g'}, false}, FilePlan{"notes/extra.txt", {'x'}, false}};
  DocumentPlan d2;
  d2.folderName = "D2";
  first.documents = {d1, d2};
  GroupPlan second;
  second.folderName = "G2";  // neither lock nor order file
  storage.groups = {first, second};
  return storage;
}

}  // namespace

TEST(WriteStorage, WritesTheWholeTreeAndNothingElse) {
  TempFolder temp;
  std::string error;
  ASSERT_TRUE(esproduce::WriteStorage(temp.path() / "store", SampleStorage(), &error)) << error;
  const std::map<std::string, std::string> expected = {
      {"ESDesc.txt", "Archive\r\n"},
      {"Doc_Order.txt", "G2\r\nG1\r\n"},
      {"G1/", ""},
      {"G1/GR_LOCK.TXT", "First group"},
      {"G1/Doc_Order.txt", "D2\r\nD1\r\n"},
      {"G1/D1/", ""},
      {"G1/D1/SC_ATTR.BIN", std::string("\0\0\0\2", 4)},
      {"G1/D1/COMMANDS", "BARCODE 1\r\n"},
      {"G1/D1/KVATTR", "k\r\n"},
      {"G1/D1/1.pg", std::string("p\0g", 3)},
      {"G1/D1/notes/", ""},
      {"G1/D1/notes/extra.txt", "x"},
      {"G1/D2/", ""},
      {"G2/", ""},
  };
  EXPECT_EQ(Tree(temp.path() / "store"), expected);
}

TEST(WriteStorage, OrderFileForms) {
  TempFolder temp;
  std::string error;
  GroupPlan group;
  group.folderName = "empty";
  group.order = std::vector<std::string>{};
  ASSERT_TRUE(esproduce::WriteGroup(temp.path(), group, &error)) << error;
  EXPECT_EQ(ReadText(temp.path() / "empty" / "Doc_Order.txt"), "");

  group.folderName = "raw";
  group.order = std::vector<std::string>{"ignored"};
  group.rawOrderFile = "A\nB";  // exactly these bytes, without a final line end
  ASSERT_TRUE(esproduce::WriteGroup(temp.path(), group, &error)) << error;
  EXPECT_EQ(ReadText(temp.path() / "raw" / "Doc_Order.txt"), "A\nB");

  group.folderName = "one";
  group.rawOrderFile.reset();
  group.order = std::vector<std::string>{"Doc 1"};
  ASSERT_TRUE(esproduce::WriteGroup(temp.path(), group, &error)) << error;
  EXPECT_EQ(ReadText(temp.path() / "one" / "Doc_Order.txt"), "Doc 1\r\n");
}

TEST(WriteStorage, ReadOnlyFilesAreMarkedAndReplacedOnRewrite) {
  TempFolder temp;
  std::string error;
  DocumentPlan document;
  document.folderName = "doc";
  document.files = {FilePlan{"1.pg", {'a'}, true}, FilePlan{"2.pg", {'b'}, false}};
  ASSERT_TRUE(esproduce::WriteDocument(temp.path(), document, &error)) << error;
  EXPECT_TRUE(IsReadOnly(temp.path() / "doc" / "1.pg"));
  EXPECT_FALSE(IsReadOnly(temp.path() / "doc" / "2.pg"));

  document.files = {FilePlan{"1.pg", {'c'}, false}};
  ASSERT_TRUE(esproduce::WriteDocument(temp.path(), document, &error)) << error;
  EXPECT_EQ(ReadText(temp.path() / "doc" / "1.pg"), "c");
  EXPECT_FALSE(IsReadOnly(temp.path() / "doc" / "1.pg"));
  EXPECT_EQ(ReadText(temp.path() / "doc" / "2.pg"), "b");  // other files stay
}

TEST(WriteStorage, FailuresNameThePathAndTheReason) {
  TempFolder temp;
  std::string error;
  const fs::path blocker = temp.path() / "plain-file";
  { std::ofstream(blocker) << "x"; }
  EXPECT_FALSE(esproduce::WriteStorage(blocker, StoragePlan{}, &error));
  EXPECT_NE(error.find(esproduce::PathToUtf8(blocker)), std::string::npos) << error;
  EXPECT_NE(error.find("file of that name exists"), std::string::npos) << error;

  DocumentPlan document;
  document.folderName = "doc";
  document.files = {FilePlan{"sub", {}, false}};
  fs::create_directories(temp.path() / "doc" / "sub");
  EXPECT_FALSE(esproduce::WriteDocument(temp.path(), document, &error));
  EXPECT_NE(error.find("sub"), std::string::npos) << error;
  EXPECT_NE(error.find("a folder of that name exists"), std::string::npos) << error;

  for (const std::string bad : {"", "a/b", "..", "."}) {
    GroupPlan group;
    group.folderName = bad;
    error.clear();
    EXPECT_FALSE(esproduce::WriteGroup(temp.path(), group, &error)) << "'" << bad << "'";
    EXPECT_NE(error.find("invalid group folder name"), std::string::npos) << error;
  }
  document.files = {FilePlan{"../escape.pg", {}, false}};
  EXPECT_FALSE(esproduce::WriteDocument(temp.path(), document, &error));
  EXPECT_FALSE(fs::exists(temp.path() / "escape.pg"));
}

TEST(WriteStorage, Utf8NamesReachTheFileSystem) {
  TempFolder temp;
  std::string error;
  DocumentPlan document;
  document.folderName = "D\xC3\xB6k";  // "Dök"
  document.files = {FilePlan{"\xE2\x82\xAC.pg", {'e'}, false}};
  ASSERT_TRUE(esproduce::WriteDocument(temp.path(), document, &error)) << error;
  const auto tree = Tree(temp.path());
  EXPECT_EQ(tree.count("D\xC3\xB6k/\xE2\x82\xAC.pg"), 1u);
}
