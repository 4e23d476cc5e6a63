// Listing a folder with a wildcard pattern, the way FindFirstFileW lists it.
#include <gtest/gtest.h>

#include <map>

#include "TempFolder.h"

namespace es::platform {
namespace {

TEST(Enumerate, PatternsListTheMatchingNamesWithTheirAttributes) {
  testing::TempFolder t;
  t.Write("A.PG", "1");
  t.Write("b.pg", "2");
  t.Write("noext", "3");
  t.Write("c.pgx", "4");
  std::filesystem::create_directory(t.Root() / "Doc1");
  ASSERT_TRUE(Os().SetAttributes(t.Path(u"c.pgx"), kAttrReadOnly));
  constexpr std::uint32_t D = kAttrDirectory, F = 0, RO = kAttrReadOnly;
  const struct {
    const Str mask;
    std::map<Str, std::uint32_t> expected;  // name -> read-only and folder bits
  } rows[] = {
      {u"*.*", {{u".", D}, {u"..", D}, {u"A.PG", F}, {u"Doc1", D}, {u"b.pg", F}, {u"c.pgx", RO}, {u"noext", F}}},
      {u"*.pg", {{u"A.PG", F}, {u"b.pg", F}}},  // without regard to case
      {u"*.PG", {{u"A.PG", F}, {u"b.pg", F}}},
      {u"?.pg", {{u"A.PG", F}, {u"b.pg", F}}},  // one character
      {u"doc?", {{u"Doc1", D}}},
      {u"c.pgx", {{u"c.pgx", RO}}},
      {u"*.tif", {}},  // no match: an empty listing, not a failure
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.mask.begin(), row.mask.end()));
    std::map<Str, std::uint32_t> found;
    EXPECT_TRUE(Os().Enumerate(t.Path(row.mask), [&](const DirEntry& entry) {
      EXPECT_EQ(entry.isDirectory, (entry.attributes & kAttrDirectory) != 0);
      found[entry.name] = entry.attributes & (kAttrDirectory | kAttrReadOnly);
      return true;
    }));
    EXPECT_EQ(found, row.expected);
  }
  int visits = 0;
  EXPECT_TRUE(Os().Enumerate(t.Path(u"*.*"), [&](const DirEntry&) { return ++visits < 2; }));
  EXPECT_EQ(visits, 2) << "the visitor stops the listing";
  EXPECT_FALSE(Os().Enumerate(t.Path(u"missing") + kPathSep + u"*.*", [](const DirEntry&) { return true; }));
}

}  // namespace
}  // namespace es::platform
