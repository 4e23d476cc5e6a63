// POSIX file names: any bytes, compared without regard to case like Windows names.
#include <gtest/gtest.h>

#include "TempFolder.h"
#include "platform/posix/Names.h"

namespace es::platform {
namespace {

namespace fs = std::filesystem;
using posix::DecodeName;
using posix::EncodeName;
using testing::File;
using testing::TempFolder;

TEST(PosixNames, InvalidUtf8BytesBecomeLoneSurrogatesAndBack) {
  const std::pair<std::string, Str> cases[] = {
      {"plain", u"plain"},
      {"caf\xC3\xA9", u"caf\u00E9"},
      {"\xF0\x9F\x98\x80", u"\U0001F600"},
      {"a\xFF" "b", u"a\xDCFF" "b"},
      {"\xC0\xAF", u"\xDCC0\xDCAF"},  // overlong '/'
      {"\xC3", u"\xDCC3"},  // cut off
      {"\xE2\x82", u"\xDCE2\xDC82"},  // three-byte sequence cut off
      {"\xED\xA0\x80", u"\xDCED\xDCA0\xDC80"},  // an encoded surrogate
      {"\xF4\x90\x80\x80", u"\xDCF4\xDC90\xDC80\xDC80"},  // beyond U+10FFFF
  };
  for (const auto& [bytes, name] : cases) {
    EXPECT_EQ(DecodeName(bytes), name);
    EXPECT_EQ(EncodeName(name), bytes);
  }
}

TEST(PosixNames, WildcardsFollowWindowsListingRules) {
  const std::tuple<Str, Str, bool> rows[] = {
      {u"*.*", u"noext", true},     {u"*.*", u".", true},          {u"*.pg", u"A.PG", true},
      {u"*.pg", u"a.pgx", false},   {u"*.pg", u"..", false},       {u"doc.*", u"DOC", true},
      {u"?x*", u"\u00E4X", true},   {u"\u00E4*", u"\u00C4rger", true}, {u"?", u"ab", false},
      {u"*a*b*c", u"xxaxxbxxbc", true},
  };
  for (const auto& [pattern, name, matches] : rows)
    EXPECT_EQ(posix::MatchWildcard(pattern, name), matches) << std::string(name.begin(), name.end());
}

TEST(PosixNames, NonUtf8FileNameRoundTrips) {
  TempFolder t;
  t.Write("page\xFF\xFE.pg", "data");
  Str listed;
  ASSERT_TRUE(Os().Enumerate(t.Path(u"*.pg"), [&](const DirEntry& entry) { return listed = entry.name, true; }));
  ASSERT_EQ(listed, u"page\xDCFF\xDCFE.pg");
  {
    File file(Os().OpenFile(t.Path(listed), Access::Read, Share::None, Disposition::OpenExisting, nullptr));
    EXPECT_EQ(testing::ReadRest(file.handle), "data");
  }
  ASSERT_TRUE(Os().DeleteFile(t.Path(listed), nullptr));
  EXPECT_FALSE(t.Exists("page\xFF\xFE.pg"));
}

TEST(PosixNames, ReadOnlyMeansNoWriteBitAtAll) {
  TempFolder t;
  t.Write("f", "x");
  using fs::perms;
  fs::permissions(t / "f", perms::owner_read | perms::group_read | perms::group_write);
  std::uint32_t attributes = 0;
  ASSERT_TRUE(Os().GetAttributes(t.Path(u"f"), &attributes));
  EXPECT_EQ(attributes, kAttrNormal) << "a group write bit is enough to be writable";
  ASSERT_TRUE(Os().SetAttributes(t.Path(u"f"), kAttrReadOnly));
  EXPECT_EQ(fs::status(t / "f").permissions() & (perms::owner_write | perms::group_write | perms::others_write),
            perms::none);
  ASSERT_TRUE(Os().SetAttributes(t.Path(u"f"), kAttrNormal));
  EXPECT_NE(fs::status(t / "f").permissions() & perms::owner_write, perms::none);
}

}  // namespace
}  // namespace es::platform
