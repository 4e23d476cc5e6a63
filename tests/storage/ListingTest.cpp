#include "storage/Listing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
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

// The order step done the plain way: each line searches the remaining entries from the
// start and takes the first equal one.
StrArray ReferenceOrder(StrArray folders, const StrArray& lines) {
  StrArray ordered;
  for (const Str& line : lines)
    if (const auto it = std::find(folders.begin(), folders.end(), line); it != folders.end())
      ordered.push_back(line), folders.erase(it);
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

// Each line takes the first remaining equal entry (case, blanks and all); beyond 32767
// entries too, and a long reversed list in reasonable time.
TEST(OrderByLines, SameAsLineByLineSearch) {
  std::mt19937 random(20240611);
  const StrArray pool = {u"a", u"b", u"c", u"A", u"ab", u"", u"b ", u"\u00e9"};
  for (int round = 0; round < 2000; ++round) {
    StrArray folders(random() % 12), lines(random() % 14);
    for (Str& f : folders) f = pool[random() % pool.size()];
    for (Str& l : lines) l = pool[random() % pool.size()];
    ASSERT_EQ(Ordered(folders, lines), ReferenceOrder(folders, lines)) << "round " << round;
  }
  StrArray folders, reversed;
  for (int i = 0; i < 50000; ++i) folders.push_back(u"Doc" + es::DecimalText(i));
  reversed.assign(folders.rbegin(), folders.rend());
  EXPECT_EQ(Ordered(folders, reversed), reversed);
  const StrArray lines = {u"Doc49999", u"Doc32768", u"Doc0"};
  EXPECT_EQ(Ordered(folders, lines), ReferenceOrder(folders, lines));
}

TEST(ListSubFolders, ListsFoldersOnlyAndOrdersWhatTheArrayHeld) {
  estest::TempFolder dir;  // written through the standard library, not the seam
  dir.Write("Doc_Order.txt", "A\r\nX\r\n");
  EXPECT_TRUE(List(dir.Path()).empty()) << "an order file alone";
  // Files and what lies below the sub-folders are no entries; entries already in the
  // array are ordered with the listed ones; a missing folder adds nothing.
  dir.Write("A/inner.txt", "x");
  dir.Write("file.pg", "x");
  StrArray folders = {u"Y", u"A", u"X"};
  es::ListSubFolders(es::layout::ListingPattern(dir.Path()), folders);
  es::ListSubFolders(es::layout::ListingPattern(dir.Path(u"missing")), folders);
  EXPECT_EQ(folders, (StrArray{u"A", u"X", u"Y", u"A"}));
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
      {"LF or CR alone ends no line", "2\n1\r0\n", {}},
      {"zero byte ends the text", std::string("2\r\n\0" "1\r\n", 6), {2}},
      {"empty order file", "", {}},
      {"order file held exclusively", "2\r\n", {}, Obstacle::HeldExclusively},
      {"unreadable order file", "2\r\n", {}, Obstacle::ReadFails},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    estest::TempFolder dir;
    for (const char* folder : {"A", "B", "C"}) fs::create_directories(dir / folder);
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
    estest::TempFolder dir;
    fs::create_directories(dir / "G");
    if (row.lock) dir.Write("G/GR_LOCK.TXT", *row.lock);
    Obstructed obstructed(row.obstacle, dir.Path(u"G") + es::platform::kPathSep + u"GR_LOCK.TXT");
    Str name = u"stale";
    EXPECT_EQ(es::ReadGroupLock(dir.Path(), u"G", name), row.available);
    EXPECT_EQ(name, row.groupName);
  }
}

TEST(DiscoverGroups, ListsAvailableGroupsInOrderWithTheirNames) {
  estest::TempFolder dir;
  dir.Write("ESDesc.txt", "Storage");
  dir.Write("G1/GR_LOCK.TXT", "First\r\n");
  dir.Write("G2/GR_LOCK.TXT", "Second");
  fs::create_directories(dir / "NoLock");
  dir.Write("TooBig/GR_LOCK.TXT", std::string(1024, 'x'));
  dir.Write("Doc_Order.txt", "G2\r\nNoLock\r\nG1\r\n");
  // A storage directory written with a trailing separator finds the same groups.
  for (const Str& storage : {dir.Path(), dir.Path() + es::platform::kPathSep}) {
    StrArray folders = {u"old"}, names = {u"old"};
    es::DiscoverGroups(storage, folders, names);
    EXPECT_EQ(std::pair(folders, names), std::pair(StrArray{u"G2", u"G1"}, StrArray{u"Second", u"First"}));
  }
}

}  // namespace
