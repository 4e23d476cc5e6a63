// Listing a folder with a wildcard pattern, the way FindFirstFileW lists it.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <vector>

#include "TempFolder.h"
#include "platform/Platform.h"

namespace es::platform {
namespace {

using testing::TempFolder;

class Enumerate : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_.Write("A.PG", "1");
    folder_.Write("b.pg", "2");
    folder_.Write("noext", "3");
    folder_.Write("c.pgx", "4");
    std::filesystem::create_directory(folder_.Root() / "Doc1");
  }

  // Name -> attributes of everything the pattern lists.
  std::map<Str, std::uint32_t> List(const Str& mask, bool* ok = nullptr) {
    std::map<Str, std::uint32_t> found;
    const bool started = Os().Enumerate(folder_.Path(mask), [&](const DirEntry& entry) {
      EXPECT_EQ(entry.isDirectory, (entry.attributes & kAttrDirectory) != 0) << "for an entry of " << found.size();
      found[entry.name] = entry.attributes;
      return true;
    });
    if (ok) *ok = started;
    return found;
  }

  static std::vector<Str> Names(const std::map<Str, std::uint32_t>& found) {
    std::vector<Str> names;
    for (const auto& [name, attributes] : found) names.push_back(name);
    return names;
  }

  TempFolder folder_;
};

TEST_F(Enumerate, StarDotStarListsEveryNameWithDotEntries) {
  bool ok = false;
  const auto found = List(u"*.*", &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(Names(found), (std::vector<Str>{u".", u"..", u"A.PG", u"Doc1", u"b.pg", u"c.pgx", u"noext"}));
  EXPECT_NE(found.at(u".") & kAttrDirectory, 0u);
  EXPECT_NE(found.at(u"..") & kAttrDirectory, 0u);
  EXPECT_NE(found.at(u"Doc1") & kAttrDirectory, 0u);
  EXPECT_EQ(found.at(u"noext") & kAttrDirectory, 0u);
}

TEST_F(Enumerate, ExtensionPatternIgnoresCase) {
  EXPECT_EQ(Names(List(u"*.pg")), (std::vector<Str>{u"A.PG", u"b.pg"}));
  EXPECT_EQ(Names(List(u"*.PG")), (std::vector<Str>{u"A.PG", u"b.pg"}));
}

TEST_F(Enumerate, QuestionMarkStandsForOneCharacter) {
  EXPECT_EQ(Names(List(u"?.pg")), (std::vector<Str>{u"A.PG", u"b.pg"}));
  EXPECT_EQ(Names(List(u"doc?")), (std::vector<Str>{u"Doc1"}));
}

TEST_F(Enumerate, VisitorStopsTheListing) {
  int visits = 0;
  EXPECT_TRUE(Os().Enumerate(folder_.Path(u"*.*"), [&](const DirEntry&) { return ++visits < 2; }));
  EXPECT_EQ(visits, 2);
}

TEST_F(Enumerate, NoMatchIsAnEmptyListingAndAMissingFolderAFailure) {
  bool ok = false;
  EXPECT_TRUE(List(u"*.tif", &ok).empty());
  EXPECT_TRUE(ok);
  EXPECT_FALSE(Os().Enumerate(folder_.Path(u"missing") + kPathSep + u"*.*", [](const DirEntry&) { return true; }));
}

TEST_F(Enumerate, ReadOnlyFilesCarryTheirAttribute) {
  ASSERT_TRUE(Os().SetAttributes(folder_.Path(u"noext"), kAttrReadOnly));
  const auto found = List(u"noext");
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found.begin()->second & kAttrReadOnly, kAttrReadOnly);
}

}  // namespace
}  // namespace es::platform
