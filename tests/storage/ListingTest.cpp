#include "storage/Listing.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "platform/FaultInjection.h"
#include "storage/File.h"
#include "storage/Layout.h"
#include "tests/storage/StorageTempDir.h"

namespace {

using es::Str;
using es::StrArray;
using es::StrView;
using estest::StorageTempDir;

constexpr char kCrLf[] = "\r\n";

StrArray Names(std::initializer_list<const char16_t*> names) {
  StrArray out;
  for (const char16_t* n : names) out.emplace_back(n);
  return out;
}

// The order step done the plain way: each line searches the remaining entries from the
// start and takes the first equal one.
StrArray ReferenceOrder(StrArray folders, const StrArray& lines) {
  StrArray ordered;
  for (const Str& line : lines) {
    for (auto it = folders.begin(); it != folders.end(); ++it) {
      if (*it == line) {
        ordered.push_back(line);
        folders.erase(it);
        break;
      }
    }
  }
  ordered.insert(ordered.end(), folders.begin(), folders.end());
  return ordered;
}

StrArray Ordered(StrArray folders, const StrArray& lines) {
  std::vector<StrView> views(lines.begin(), lines.end());
  es::listing::OrderByLines(views, folders);
  return folders;
}

StrArray List(const Str& folder) {
  StrArray folders;
  es::ListSubFolders(es::layout::ListingPattern(folder), folders);
  return folders;
}

// ---------------------------------------------------------------------------------------

TEST(TakeLine, CutsAtCrLfOnly) {
  Str text = u"first\r\nsec\nond\rpart\r\n\r\nlast";
  Str line;
  ASSERT_TRUE(es::TakeLine(line, text));
  EXPECT_EQ(line, u"first");
  ASSERT_TRUE(es::TakeLine(line, text));
  EXPECT_EQ(line, u"sec\nond\rpart");
  ASSERT_TRUE(es::TakeLine(line, text));
  EXPECT_EQ(line, u"");
  ASSERT_TRUE(es::TakeLine(line, text));
  EXPECT_EQ(line, u"last");
  EXPECT_TRUE(text.empty());
  EXPECT_FALSE(es::TakeLine(line, text));
}

TEST(TakeLine, FinalCrLfGivesNoExtraLine) {
  Str text = u"only\r\n";
  Str line;
  ASSERT_TRUE(es::TakeLine(line, text));
  EXPECT_EQ(line, u"only");
  EXPECT_FALSE(es::TakeLine(line, text));
  EXPECT_EQ(line, u"only");
}

// ---------------------------------------------------------------------------------------

TEST(OrderByLines, ListedNamesComeFirstInLineOrder) {
  EXPECT_EQ(Ordered(Names({u"A", u"B", u"C"}), Names({u"B", u"A"})), Names({u"B", u"A", u"C"}));
}

TEST(OrderByLines, NameListedTwiceTakesItsFirstLine) {
  EXPECT_EQ(Ordered(Names({u"A", u"B", u"C"}), Names({u"C", u"A", u"C", u"B"})), Names({u"C", u"A", u"B"}));
}

TEST(OrderByLines, CaseMismatchEmptyAndUnknownLinesAreIgnored) {
  EXPECT_EQ(Ordered(Names({u"Doc1", u"doc2"}), Names({u"DOC2", u"", u"nothing", u"doc1 "})),
            Names({u"Doc1", u"doc2"}));
}

TEST(OrderByLines, DuplicateEntriesAreTakenOnePerLine) {
  EXPECT_EQ(Ordered(Names({u"X", u"A", u"Y", u"A"}), Names({u"A", u"Y", u"A", u"A"})),
            Names({u"A", u"Y", u"A", u"X"}));
}

TEST(OrderByLines, MatchesEveryLineBeyondThirtyTwoThousandEntries) {
  StrArray folders;
  for (int i = 0; i < 40000; ++i) folders.push_back(es::DecimalText(i));
  StrArray lines = {u"39999", u"32768", u"0"};
  const StrArray got = Ordered(folders, lines);
  EXPECT_EQ(got, ReferenceOrder(folders, lines));
  ASSERT_EQ(got.size(), folders.size());
  EXPECT_EQ(got[0], u"39999");
  EXPECT_EQ(got[1], u"32768");
}

TEST(OrderByLines, SameAsLineByLineSearchOnRandomInput) {
  std::mt19937 random(20240611);
  const StrArray pool = Names({u"a", u"b", u"c", u"A", u"ab", u"", u"b ", u"\u00e9"});
  for (int round = 0; round < 2000; ++round) {
    StrArray folders(random() % 12);
    for (Str& f : folders) f = pool[random() % pool.size()];
    StrArray lines(random() % 14);
    for (Str& l : lines) l = pool[random() % pool.size()];
    ASSERT_EQ(Ordered(folders, lines), ReferenceOrder(folders, lines)) << "round " << round;
  }
}

TEST(OrderByLines, ReversedLongListComesOutReversed) {
  StrArray folders;
  StrArray lines;
  for (int i = 0; i < 50000; ++i) folders.push_back(u"Doc" + es::DecimalText(i));
  lines.assign(folders.rbegin(), folders.rend());
  EXPECT_EQ(Ordered(folders, lines), lines);
}

// ---------------------------------------------------------------------------------------

class ListSubFoldersTest : public ::testing::Test {
 protected:
  StorageTempDir dir_;
  void MakeFolders(std::initializer_list<const char*> names) {
    for (const char* n : names) dir_.MakeDir(n);
  }
  void WriteOrder(const std::string& bytes) { dir_.Write("Doc_Order.txt", bytes); }
};

TEST_F(ListSubFoldersTest, ListsFoldersOnly) {
  MakeFolders({"A", "B"});
  dir_.Write("file.pg", "x");
  dir_.Write("B/inner.txt", "x");
  StrArray got = List(dir_.Path());
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, Names({u"A", u"B"}));
}

TEST_F(ListSubFoldersTest, EmptyFolderGivesNothing) {
  EXPECT_TRUE(List(dir_.Path()).empty());
  WriteOrder(std::string("A") + kCrLf);
  EXPECT_TRUE(List(dir_.Path()).empty());
}

TEST_F(ListSubFoldersTest, MissingFolderAppendsNothingAndKeepsEntries) {
  StrArray folders = Names({u"kept"});
  es::ListSubFolders(es::layout::ListingPattern(dir_.Path(u"missing")), folders);
  EXPECT_EQ(folders, Names({u"kept"}));
}

TEST_F(ListSubFoldersTest, OrderFileMovesNamedFoldersFirst) {
  MakeFolders({"A", "B", "C"});
  const StrArray base = List(dir_.Path());
  WriteOrder(std::string("B") + kCrLf + "A" + kCrLf);
  EXPECT_EQ(List(dir_.Path()), ReferenceOrder(base, Names({u"B", u"A"})));
  EXPECT_EQ(List(dir_.Path()).back(), u"C");
}

TEST_F(ListSubFoldersTest, OrderFileMatchesCaseSensitively) {
  MakeFolders({"Doc1", "Doc2"});
  const StrArray base = List(dir_.Path());
  WriteOrder(std::string("doc2") + kCrLf + "DOC1" + kCrLf);
  EXPECT_EQ(List(dir_.Path()), base);
}

TEST_F(ListSubFoldersTest, LfOnlyOrderFileIsOneLine) {
  MakeFolders({"A", "B", "C"});
  const StrArray base = List(dir_.Path());
  WriteOrder("C\nB\nA\n");
  EXPECT_EQ(List(dir_.Path()), base);
}

TEST_F(ListSubFoldersTest, LastLineNeedsNoLineEnd) {
  MakeFolders({"A", "B", "C"});
  const StrArray base = List(dir_.Path());
  WriteOrder(es::ToUtf8(base[2]) + kCrLf + es::ToUtf8(base[1]));
  EXPECT_EQ(List(dir_.Path()), Names({base[2].c_str(), base[1].c_str(), base[0].c_str()}));
}

TEST_F(ListSubFoldersTest, ZeroByteEndsTheOrderText) {
  MakeFolders({"A", "B", "C"});
  const StrArray base = List(dir_.Path());
  WriteOrder(es::ToUtf8(base[2]) + kCrLf + std::string(1, '\0') + es::ToUtf8(base[1]) + kCrLf);
  EXPECT_EQ(List(dir_.Path()), ReferenceOrder(base, {base[2]}));
}

TEST_F(ListSubFoldersTest, EmptyOrderFileKeepsTheListingOrder) {
  MakeFolders({"A", "B", "C"});
  const StrArray base = List(dir_.Path());
  WriteOrder("");
  EXPECT_EQ(List(dir_.Path()), base);
}

TEST_F(ListSubFoldersTest, UnreadableOrderFileKeepsTheListingOrder) {
  MakeFolders({"A", "B", "C"});
  const StrArray base = List(dir_.Path());
  WriteOrder(es::ToUtf8(base[2]) + kCrLf);
  es::platform::FaultyPlatform faulty;
  es::platform::ScopedPlatform use(faulty);
  faulty.FailAt(es::platform::CallKind::Read, 1, 100);
  EXPECT_EQ(List(dir_.Path()), base);
}

TEST_F(ListSubFoldersTest, OrderFileHeldExclusivelyKeepsTheListingOrder) {
  MakeFolders({"A", "B", "C"});
  const StrArray base = List(dir_.Path());
  WriteOrder(es::ToUtf8(base[2]) + kCrLf);
  es::File holder(dir_.Path(u"Doc_Order.txt"), es::platform::Access::Read, es::platform::Share::None);
  ASSERT_TRUE(holder.IsOpen());
  EXPECT_EQ(List(dir_.Path()), base);
}

TEST_F(ListSubFoldersTest, EntriesAlreadyInTheArrayAreOrderedToo) {
  MakeFolders({"A"});
  WriteOrder(std::string("A") + kCrLf + "X" + kCrLf);
  StrArray folders = Names({u"Y", u"A", u"X"});
  es::ListSubFolders(es::layout::ListingPattern(dir_.Path()), folders);
  EXPECT_EQ(folders, Names({u"A", u"X", u"Y", u"A"}));
}

// ---------------------------------------------------------------------------------------

class ReadGroupLockTest : public ::testing::Test {
 protected:
  StorageTempDir dir_;
  bool Read(const std::string& lockBytes, Str* name) {
    dir_.Write("G/GR_LOCK.TXT", lockBytes);
    return es::ReadGroupLock(dir_.Path(), u"G", *name);
  }
};

TEST_F(ReadGroupLockTest, MissingLockFileMakesTheGroupUnavailable) {
  dir_.MakeDir("G");
  Str name = u"stale";
  EXPECT_FALSE(es::ReadGroupLock(dir_.Path(), u"G", name));
  EXPECT_TRUE(name.empty());
}

TEST_F(ReadGroupLockTest, SizeLimitIsBelow1024Bytes) {
  Str name;
  EXPECT_TRUE(Read("Big" + std::string(1020, 'x'), &name));
  EXPECT_EQ(name.size(), 1023u);
  EXPECT_FALSE(Read("Big" + std::string(1021, 'x'), &name));
}

TEST_F(ReadGroupLockTest, EmptyLockFileGivesEmptyName) {
  Str name = u"stale";
  EXPECT_TRUE(Read("", &name));
  EXPECT_TRUE(name.empty());
}

TEST_F(ReadGroupLockTest, NameIsTheFirstLine) {
  Str name;
  EXPECT_TRUE(Read("Morning post\r\nsecond line", &name));
  EXPECT_EQ(name, u"Morning post");
}

TEST_F(ReadGroupLockTest, LeadingCrKeepsTheWholeText) {
  Str name;
  EXPECT_TRUE(Read("\r\nGroup\r\n", &name));
  EXPECT_EQ(name, u"\r\nGroup\r\n");
}

TEST_F(ReadGroupLockTest, LfOnlyLineEndsKeepTheWholeText) {
  Str name;
  EXPECT_TRUE(Read("one\ntwo\n", &name));
  EXPECT_EQ(name, u"one\ntwo\n");
}

TEST_F(ReadGroupLockTest, ZeroByteEndsTheName) {
  Str name;
  EXPECT_TRUE(Read(std::string("Name\0rest\r\n", 11), &name));
  EXPECT_EQ(name, u"Name");
}

TEST_F(ReadGroupLockTest, LockHeldWithoutSharingMakesTheGroupUnavailable) {
  dir_.Write("G/GR_LOCK.TXT", "Busy");
  es::File importer(dir_.Path(u"G") + es::platform::kPathSep + u"GR_LOCK.TXT", es::platform::Access::Read,
                    es::platform::Share::None);
  ASSERT_TRUE(importer.IsOpen());
  Str name;
  EXPECT_FALSE(es::ReadGroupLock(dir_.Path(), u"G", name));
  importer.Close();
  EXPECT_TRUE(es::ReadGroupLock(dir_.Path(), u"G", name));
  EXPECT_EQ(name, u"Busy");
}

TEST_F(ReadGroupLockTest, ReadFailureLeavesTheGroupAvailableWithoutName) {
  dir_.Write("G/GR_LOCK.TXT", "Name");
  es::platform::FaultyPlatform faulty;
  es::platform::ScopedPlatform use(faulty);
  faulty.FailAt(es::platform::CallKind::Read, 1, 100);
  Str name = u"stale";
  EXPECT_TRUE(es::ReadGroupLock(dir_.Path(), u"G", name));
  EXPECT_TRUE(name.empty());
}

// ---------------------------------------------------------------------------------------

class DiscoverGroupsTest : public ::testing::Test {
 protected:
  StorageTempDir dir_;
};

TEST_F(DiscoverGroupsTest, StorageWithoutFoldersHasNoGroups) {
  dir_.Write("ESDesc.txt", "Storage");
  StrArray folders = Names({u"old"});
  StrArray names = Names({u"old"});
  es::DiscoverGroups(dir_.Path(), folders, names);
  EXPECT_TRUE(folders.empty());
  EXPECT_TRUE(names.empty());
}

TEST_F(DiscoverGroupsTest, ListsAvailableGroupsInOrderWithTheirNames) {
  dir_.Write("G1/GR_LOCK.TXT", "First\r\n");
  dir_.Write("G2/GR_LOCK.TXT", "Second");
  dir_.MakeDir("NoLock");
  dir_.Write("TooBig/GR_LOCK.TXT", std::string(1024, 'x'));
  dir_.Write("Doc_Order.txt", std::string("G2") + kCrLf + "NoLock" + kCrLf + "G1" + kCrLf);
  StrArray folders;
  StrArray names;
  es::DiscoverGroups(dir_.Path(), folders, names);
  EXPECT_EQ(folders, Names({u"G2", u"G1"}));
  EXPECT_EQ(names, Names({u"Second", u"First"}));
}

TEST_F(DiscoverGroupsTest, TrailingSeparatorYieldsTheSameGroups) {
  dir_.Write("G1/GR_LOCK.TXT", "First");
  dir_.Write("G2/GR_LOCK.TXT", "Second");
  dir_.Write("Doc_Order.txt", std::string("G2") + kCrLf);
  StrArray folders;
  StrArray names;
  es::DiscoverGroups(dir_.Path(), folders, names);
  StrArray foldersSep;
  StrArray namesSep;
  es::DiscoverGroups(dir_.Path() + es::platform::kPathSep, foldersSep, namesSep);
  EXPECT_EQ(folders, Names({u"G2", u"G1"}));
  EXPECT_EQ(foldersSep, folders);
  EXPECT_EQ(namesSep, names);
}

}  // namespace
