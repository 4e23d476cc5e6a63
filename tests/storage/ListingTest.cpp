#include "storage/Listing.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>

#include "platform/FaultInjection.h"
#include "storage/File.h"
#include "storage/Layout.h"
#include "tests/support/TempFolder.h"

namespace {

using es::Str;
using es::StrArray;
using es::StrView;
namespace fs = std::filesystem;

// A fresh folder below the temporary folder, removed with everything in it. Files are
// written through the standard library, not the seam.
class StorageTempDir : public estest::TempFolder {
 public:
  StorageTempDir() : estest::TempFolder("es-list") {}
  void MakeDir(const fs::path& relative) const { fs::create_directories(root / relative); }
};

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

// What keeps a file from being read: another opener holding it without sharing, or a
// read that fails after the file opened.
enum class Obstacle { None, HeldExclusively, ReadFails };

struct Obstructed {
  Obstructed(Obstacle obstacle, const Str& path) {
    if (obstacle == Obstacle::HeldExclusively) {
      holder.emplace(path, es::platform::Access::Read, es::platform::Share::None);
      EXPECT_TRUE(holder->IsOpen());
    } else if (obstacle == Obstacle::ReadFails) {
      use.emplace(faulty);
      faulty.FailAt(es::platform::CallKind::Read, 1, 100);
    }
  }
  std::optional<es::File> holder;
  es::platform::FaultyPlatform faulty;
  std::optional<es::platform::ScopedPlatform> use;
};

// ---------------------------------------------------------------------------------------

TEST(TakeLine, CutsAtCrLfOnly) {
  const struct {
    const char* name;
    const char16_t* text;
    StrArray lines;
  } rows[] = {
      {"CR LF only ends a line", u"first\r\nsec\nond\rpart\r\n\r\nlast", {u"first", u"sec\nond\rpart", u"", u"last"}},
      {"final CR LF gives no extra line", u"only\r\n", {u"only"}},
      {"empty text has no line", u"", {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Str text = row.text;
    Str line = u"before";
    StrArray got;
    while (es::TakeLine(line, text)) got.push_back(line);
    EXPECT_EQ(got, row.lines);
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(line, row.lines.empty() ? u"before" : row.lines.back());  // untouched at the end
  }
}

// ---------------------------------------------------------------------------------------

TEST(OrderByLines, Rows) {
  const struct {
    const char* name;
    StrArray folders, lines, ordered;
  } rows[] = {
      {"listed names first, in line order", Names({u"A", u"B", u"C"}), Names({u"B", u"A"}),
       Names({u"B", u"A", u"C"})},
      {"name listed twice takes its first line", Names({u"A", u"B", u"C"}), Names({u"C", u"A", u"C", u"B"}),
       Names({u"C", u"A", u"B"})},
      {"case mismatch, empty and unknown lines are ignored", Names({u"Doc1", u"doc2"}),
       Names({u"DOC2", u"", u"nothing", u"doc1 "}), Names({u"Doc1", u"doc2"})},
      {"duplicate entries are taken one per line", Names({u"X", u"A", u"Y", u"A"}),
       Names({u"A", u"Y", u"A", u"A"}), Names({u"A", u"Y", u"A", u"X"})},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(Ordered(row.folders, row.lines), row.ordered);
  }
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

TEST(ListSubFolders, ListsFoldersOnlyAndOrdersWhatTheArrayHeld) {
  StorageTempDir dir;
  EXPECT_TRUE(List(dir.Path()).empty());
  dir.Write("Doc_Order.txt", std::string("A") + kCrLf);
  EXPECT_TRUE(List(dir.Path()).empty());

  StrArray folders = Names({u"kept"});
  es::ListSubFolders(es::layout::ListingPattern(dir.Path(u"missing")), folders);
  EXPECT_EQ(folders, Names({u"kept"}));

  // Files and what lies below the sub-folders are no entries; entries already in the
  // array are ordered with the listed ones.
  dir.Write("A/inner.txt", "x");
  dir.Write("file.pg", "x");
  dir.Write("Doc_Order.txt", std::string("A") + kCrLf + "X" + kCrLf);
  folders = Names({u"Y", u"A", u"X"});
  es::ListSubFolders(es::layout::ListingPattern(dir.Path()), folders);
  EXPECT_EQ(folders, Names({u"A", u"X", u"Y", u"A"}));
}

// Folders A, B and C; in the order text a digit i stands for the i-th folder as listed, so
// that every row reorders whatever order the file system lists them in.
TEST(ListSubFolders, OrderFileRows) {
  const struct {
    const char* name;
    std::optional<std::string> order;
    std::vector<int> taken;  // the listed folders the order file moves first
    Obstacle obstacle = Obstacle::None;
  } rows[] = {
      {"no order file", std::nullopt, {}},
      {"named folders first", "2\r\n0\r\n", {2, 0}},
      {"last line needs no line end", "2\r\n1", {2, 1}},
      {"LF alone ends no line", "2\n1\n0\n", {}},
      {"zero byte ends the text", std::string("2\r\n\0" "1\r\n", 6), {2}},
      {"empty order file", "", {}},
      {"order file held exclusively", "2\r\n", {}, Obstacle::HeldExclusively},
      {"unreadable order file", "2\r\n", {}, Obstacle::ReadFails},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    StorageTempDir dir;
    for (const char* folder : {"A", "B", "C"}) dir.MakeDir(folder);
    const StrArray listed = List(dir.Path());
    ASSERT_EQ(listed.size(), 3u);
    if (row.order) {
      std::string bytes;
      for (const char c : *row.order) bytes += c >= '0' && c <= '2' ? es::ToUtf8(listed[c - '0']) : std::string(1, c);
      dir.Write("Doc_Order.txt", bytes);
    }
    StrArray lines;
    for (const int i : row.taken) lines.push_back(listed[i]);
    Obstructed obstructed(row.obstacle, dir.Path(u"Doc_Order.txt"));
    EXPECT_EQ(List(dir.Path()), ReferenceOrder(listed, lines));
  }
}

// ---------------------------------------------------------------------------------------

TEST(ReadGroupLock, Rows) {
  const struct {
    const char* name;
    std::optional<std::string> lock;
    bool available;
    Str groupName;
    Obstacle obstacle = Obstacle::None;
  } rows[] = {
      {"name is the first line", "Morning post\r\nsecond line", true, u"Morning post"},
      {"empty lock file, empty name", "", true, u""},
      {"leading CR LF keeps the whole text", "\r\nGroup\r\n", true, u"\r\nGroup\r\n"},
      {"LF alone keeps the whole text", "one\ntwo\n", true, u"one\ntwo\n"},
      {"zero byte ends the name", std::string("Name\0rest\r\n", 11), true, u"Name"},
      {"1023 bytes are read", "Big" + std::string(1020, 'x'), true, u"Big" + Str(1020, u'x')},
      {"1024 bytes make the group unavailable", "Big" + std::string(1021, 'x'), false, u""},
      {"missing lock file makes the group unavailable", std::nullopt, false, u""},
      {"lock held without sharing makes the group unavailable", "Busy", false, u"", Obstacle::HeldExclusively},
      {"unreadable lock leaves the group available without name", "Name", true, u"", Obstacle::ReadFails},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    StorageTempDir dir;
    dir.MakeDir("G");
    if (row.lock) dir.Write("G/GR_LOCK.TXT", *row.lock);
    Obstructed obstructed(row.obstacle, dir.Path(u"G") + es::platform::kPathSep + u"GR_LOCK.TXT");
    Str name = u"stale";
    EXPECT_EQ(es::ReadGroupLock(dir.Path(), u"G", name), row.available);
    EXPECT_EQ(name, row.groupName);
  }
}

// ---------------------------------------------------------------------------------------

TEST(DiscoverGroups, ListsAvailableGroupsInOrderWithTheirNames) {
  StorageTempDir dir;
  dir.Write("ESDesc.txt", "Storage");
  dir.Write("G1/GR_LOCK.TXT", "First\r\n");
  dir.Write("G2/GR_LOCK.TXT", "Second");
  dir.MakeDir("NoLock");
  dir.Write("TooBig/GR_LOCK.TXT", std::string(1024, 'x'));
  dir.Write("Doc_Order.txt", std::string("G2") + kCrLf + "NoLock" + kCrLf + "G1" + kCrLf);
  // A storage directory written with a trailing separator finds the same groups.
  for (const Str& storage : {dir.Path(), dir.Path() + es::platform::kPathSep}) {
    StrArray folders = Names({u"old"});
    StrArray names = Names({u"old"});
    es::DiscoverGroups(storage, folders, names);
    EXPECT_EQ(folders, Names({u"G2", u"G1"}));
    EXPECT_EQ(names, Names({u"Second", u"First"}));
  }
}

}  // namespace
