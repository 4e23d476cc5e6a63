// POSIX file names: any bytes, compared without regard to case like Windows names.
#include <gtest/gtest.h>

#include "TempFolder.h"
#include "platform/Platform.h"
#include "platform/posix/Names.h"

namespace es::platform {
namespace {

using posix::DecodeName;
using posix::EncodeName;
using posix::MatchWildcard;
using testing::TempFolder;

TEST(PosixNames, InvalidUtf8BytesBecomeLoneSurrogatesAndBack) {
  const std::string cases[] = {
      "plain",
      "caf\xC3\xA9 \xF0\x9F\x98\x80",  // valid two- and four-byte sequences
      "bad\xFF\xFE",
      "\xC3",                          // cut off
      "\xC0\xAF",                      // overlong '/'
      "\xED\xA0\x80",                  // an encoded surrogate
      "\xF4\x90\x80\x80",              // beyond U+10FFFF
      "\xE2\x82",                      // three-byte sequence cut off
  };
  for (const std::string& bytes : cases) EXPECT_EQ(EncodeName(DecodeName(bytes)), bytes);
  EXPECT_EQ(DecodeName("a\xFF" "b"), u"a\xDCFF" "b");
  EXPECT_EQ(DecodeName("caf\xC3\xA9"), u"caf\u00E9");
  EXPECT_EQ(DecodeName("\xF0\x9F\x98\x80"), u"\U0001F600");
  EXPECT_EQ(DecodeName("\xC0\xAF"), u"\xDCC0\xDCAF");
}

TEST(PosixNames, WildcardsFollowWindowsListingRules) {
  EXPECT_TRUE(MatchWildcard(u"*.*", u"noext"));
  EXPECT_TRUE(MatchWildcard(u"*.*", u"."));
  EXPECT_TRUE(MatchWildcard(u"*.pg", u"A.PG"));
  EXPECT_FALSE(MatchWildcard(u"*.pg", u"a.pgx"));
  EXPECT_FALSE(MatchWildcard(u"*.pg", u".."));
  EXPECT_TRUE(MatchWildcard(u"doc.*", u"DOC"));
  EXPECT_TRUE(MatchWildcard(u"?x*", u"\u00E4X"));
  EXPECT_TRUE(MatchWildcard(u"\u00E4*", u"\u00C4rger"));
  EXPECT_FALSE(MatchWildcard(u"?", u"ab"));
  EXPECT_TRUE(MatchWildcard(u"*a*b*c", u"xxaxxbxxbc"));
}

TEST(PosixNames, NonUtf8FileNameRoundTrips) {
  TempFolder folder;
  const std::string raw = "page\xFF\xFE.pg";
  folder.Write(raw, "data");

  Str listed;
  ASSERT_TRUE(Os().Enumerate(folder.Path(u"*.pg"), [&](const DirEntry& entry) {
    listed = entry.name;
    return true;
  }));
  ASSERT_EQ(listed, u"page\xDCFF\xDCFE.pg");

  const Str path = folder.Path(listed);
  Error error = Error::None;
  FileHandle file = Os().OpenFile(path, Access::Read, Share::None, Disposition::OpenExisting, &error);
  ASSERT_NE(file, kInvalidFile);
  char buffer[8];
  std::size_t got = 0;
  ASSERT_TRUE(Os().Read(file, buffer, sizeof buffer, &got));
  EXPECT_EQ(std::string(buffer, got), "data");
  Os().Close(file);
  ASSERT_TRUE(Os().DeleteFile(path, &error));
  EXPECT_FALSE(std::filesystem::exists(folder.Root() / raw));
}

TEST(PosixNames, MissingExactNameFallsBackToAnotherCase) {
  TempFolder folder;
  std::filesystem::create_directory(folder.Root() / "Group");
  folder.Write("Group/GR_LOCK.TXT", "name");
  const Str path = folder.Path(u"group") + kPathSep + u"gr_lock.txt";

  Error error = Error::None;
  FileHandle file = Os().OpenFile(path, Access::Read, Share::None, Disposition::OpenExisting, &error);
  ASSERT_NE(file, kInvalidFile);
  // The lock is on the file found, so the exact name is shut out too.
  FileHandle exact = Os().OpenFile(folder.Path(u"Group") + kPathSep + u"GR_LOCK.TXT", Access::Read, Share::Read,
                                   Disposition::OpenExisting, &error);
  EXPECT_EQ(exact, kInvalidFile);
  EXPECT_EQ(error, Error::SharingViolation);
  Os().Close(file);

  // Creating under another case replaces the file that is there, as on Windows.
  file = Os().OpenFile(path, Access::Write, Share::None, Disposition::CreateAlways, &error);
  ASSERT_NE(file, kInvalidFile);
  Os().Close(file);
  EXPECT_TRUE(std::filesystem::is_empty(folder.Root() / "Group" / "GR_LOCK.TXT"));
  EXPECT_FALSE(std::filesystem::exists(folder.Root() / "Group" / "gr_lock.txt"));

  EXPECT_FALSE(Os().CreateDirectory(folder.Path(u"GROUP"), &error));
  EXPECT_EQ(error, Error::AlreadyExists);
  folder.Write("other", "o");
  EXPECT_FALSE(Os().MoveFile(folder.Path(u"other"), path, &error));
  EXPECT_EQ(error, Error::AlreadyExists);
  EXPECT_TRUE(Os().DeleteFile(path, &error));
  EXPECT_FALSE(std::filesystem::exists(folder.Root() / "Group" / "GR_LOCK.TXT"));
}

TEST(PosixNames, RenameMayChangeOnlyTheCase) {
  TempFolder folder;
  folder.Write("doc_order.txt", "1");
  Error error = Error::None;
  ASSERT_TRUE(Os().MoveFile(folder.Path(u"doc_order.txt"), folder.Path(u"Doc_Order.txt"), &error));
  EXPECT_TRUE(std::filesystem::exists(folder.Root() / "Doc_Order.txt"));
  EXPECT_FALSE(std::filesystem::exists(folder.Root() / "doc_order.txt"));
}

TEST(PosixNames, ReadOnlyMeansNoWriteBitAtAll) {
  TempFolder folder;
  folder.Write("f", "x");
  const auto file = folder.Root() / "f";
  using std::filesystem::perms;
  std::filesystem::permissions(file, perms::owner_read | perms::group_read | perms::group_write);
  std::uint32_t attributes = 0;
  ASSERT_TRUE(Os().GetAttributes(folder.Path(u"f"), &attributes));
  EXPECT_EQ(attributes, kAttrNormal) << "a group write bit is enough to be writable";
  ASSERT_TRUE(Os().SetAttributes(folder.Path(u"f"), kAttrReadOnly));
  EXPECT_EQ(std::filesystem::status(file).permissions() & (perms::owner_write | perms::group_write | perms::others_write),
            perms::none);
  ASSERT_TRUE(Os().SetAttributes(folder.Path(u"f"), kAttrNormal));
  EXPECT_NE(std::filesystem::status(file).permissions() & perms::owner_write, perms::none);
}

}  // namespace
}  // namespace es::platform
