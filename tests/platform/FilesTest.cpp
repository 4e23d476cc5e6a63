// Files through the seam, by path and relative to a held folder (both keep the same
// rules): sharing, the read-only attribute, reading and writing, delete and move; listing
// by wildcard pattern the way FindFirstFileW lists.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "TempFolder.h"

namespace es::platform {
namespace {

using testing::File;
using testing::Folder;
using testing::TempFolder;

constexpr std::uint32_t kGone = ~0u;

// The calls on "f.txt" by path, or relative to the held temporary folder.
class Files : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { t.Write("f.txt", "content"); }
  bool InFolder() const { return GetParam(); }
  FileHandle Open(Access access, Share share, Disposition disposition, Error* error = nullptr) const {
    return InFolder() ? Os().OpenFileAt(root.handle, u"f.txt", access, share, disposition, error)
                      : Os().OpenFile(t.Path(u"f.txt"), access, share, disposition, error);
  }
  bool Delete(Error* error) const {
    return InFolder() ? Os().DeleteFileAt(root.handle, u"f.txt", error) : Os().DeleteFile(t.Path(u"f.txt"), error);
  }
  bool Move(const Str& to, Error* error) const {
    return InFolder() ? Os().MoveFileAt(root.handle, u"f.txt", to, error)
                      : Os().MoveFile(t.Path(u"f.txt"), t.Path(to), error);
  }
  bool SetAttributes(std::uint32_t attributes) const {
    return InFolder() ? Os().SetAttributesAt(root.handle, u"f.txt", attributes, nullptr)
                      : Os().SetAttributes(t.Path(u"f.txt"), attributes);
  }
  std::uint32_t Attributes() const {  // kGone when there is no such file
    EntryInfo info;
    if (InFolder()) return Os().StatAt(root.handle, u"f.txt", &info, nullptr) ? info.attributes : kGone;
    return Os().GetAttributes(t.Path(u"f.txt"), &info.attributes) ? info.attributes : kGone;
  }

  TempFolder t;
  Folder root{Os().OpenFolder(t.Path(), false, nullptr)};
};

enum Op { kOpen, kDelete, kMove };
constexpr Error SV = Error::SharingViolation;
constexpr Access R = Access::Read, W = Access::Write;
constexpr Disposition Existing = Disposition::OpenExisting, Always = Disposition::CreateAlways;

TEST_P(Files, ShareModes) {
  // held: how the first opener shares the file; then what the second caller does.
  const struct { const char* name; Share held; Op op; Access access; Share share; Disposition disposition;
                 Error expected; } rows[] = {
      {"reader beside an exclusive holder", Share::None, kOpen, R, Share::Read, Existing, SV},
      {"exclusive beside an exclusive holder", Share::None, kOpen, R, Share::None, Existing, SV},
      {"exclusive beside a sharing reader", Share::Read, kOpen, R, Share::None, Existing, SV},
      {"sharing readers coexist", Share::Read, kOpen, R, Share::Read, Existing, Error::None},
      {"CreateAlways beside an exclusive holder", Share::None, kOpen, W, Share::None, Always, SV},
      {"CreateAlways beside a sharing reader", Share::Read, kOpen, W, Share::None, Always, SV},
      {"delete of a held file", Share::Read, kDelete, R, Share::Read, Existing, SV},
      {"move of a held file", Share::Read, kMove, R, Share::Read, Existing, SV},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    {
      File holder(Open(Access::Read, row.held, Disposition::OpenExisting));
      ASSERT_TRUE(holder.ok());
      Error error = Error::None;
      if (row.op == kOpen) {
        File second(Open(row.access, row.share, row.disposition, &error));
        EXPECT_EQ(second.ok(), row.expected == Error::None);
      } else {
        EXPECT_FALSE(row.op == kDelete ? Delete(&error) : Move(u"moved.txt", &error));
      }
      EXPECT_EQ(error, row.expected);
    }
    EXPECT_EQ(t.Read("f.txt"), "content") << "a held file is never emptied, deleted or moved";
    EXPECT_TRUE(File(Open(Access::Read, Share::None, Disposition::OpenExisting)).ok()) << "closing releases it";
  }
}

TEST_P(Files, ReadOnlyRefusesWritingAndDeletingUntilMadeNormal) {
  EXPECT_EQ(Attributes() & (kAttrReadOnly | kAttrDirectory), 0u);
  ASSERT_TRUE(SetAttributes(kAttrReadOnly));
  EXPECT_EQ(Attributes() & (kAttrReadOnly | kAttrDirectory), kAttrReadOnly);
  Error error = Error::None;
  for (Disposition disposition : {Disposition::OpenExisting, Disposition::CreateAlways}) {
    EXPECT_FALSE(File(Open(Access::Write, Share::None, disposition, &error)).ok());
    EXPECT_EQ(error, Error::AccessDenied);
  }
  EXPECT_FALSE(Delete(&error));
  EXPECT_EQ(error, Error::AccessDenied);
  EXPECT_EQ(t.Read("f.txt"), "content");
  ASSERT_TRUE(SetAttributes(kAttrNormal));
  EXPECT_EQ(Attributes() & kAttrReadOnly, 0u);
  EXPECT_TRUE(Delete(&error));
  EXPECT_EQ(Attributes(), kGone);
}

TEST_P(Files, CreateAlwaysTruncatesAndWritesThenReadSeeksAndSizes) {
  {
    File writer(Open(Access::Write, Share::None, Disposition::CreateAlways));
    ASSERT_TRUE(writer.ok());
    ASSERT_TRUE(Os().Write(writer.handle, "ab", 2));
  }
  EXPECT_EQ(t.Read("f.txt"), "ab");
  t.Write("f.txt", "content");
  File reader(Open(Access::Read, Share::Read, Disposition::OpenExisting));
  ASSERT_TRUE(reader.ok());
  std::uint64_t size = 0;
  ASSERT_TRUE(Os().FileSize(reader.handle, &size));
  EXPECT_EQ(size, 7u);
  ASSERT_TRUE(Os().Seek(reader.handle, 3));
  EXPECT_EQ(testing::ReadRest(reader.handle), "tent");
}

TEST_P(Files, MoveNeverReplaces) {
  t.Write("other.txt", "other");
  Error error = Error::None;
  EXPECT_FALSE(Move(u"other.txt", &error));
  EXPECT_EQ(error, Error::AlreadyExists);
  EXPECT_EQ(t.Read("other.txt"), "other");
  EXPECT_EQ(t.Read("f.txt"), "content");
  EXPECT_TRUE(Move(u"moved.txt", &error));
  EXPECT_EQ(t.Read("moved.txt"), "content");
  EXPECT_EQ(Attributes(), kGone);
}

INSTANTIATE_TEST_SUITE_P(Platform, Files, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "InFolder" : "ByPath"; });

TEST(PathCalls, RefuseWhatTheyCannotDoAndLeaveFoldersAlone) {
  TempFolder t;
  const Str sub = t.Path(u"sub");
  ASSERT_TRUE(Os().CreateDirectory(sub, nullptr));
  t.Write("sub/inner.txt", "x");
  const auto open = [](const Str& path, Disposition disposition, Error* error) {
    const Access access = disposition == Existing ? Access::Read : Access::Write;
    return File(Os().OpenFile(path, access, Share::Read, disposition, error)).ok();
  };
  const struct { const char* name; std::function<bool(Error*)> call; Error expected; } rows[] = {
      {"open a missing file", [&](Error* e) { return open(t.Path(u"nothing.txt"), Existing, e); }, Error::NotFound},
      {"create in a missing folder",
       [&](Error* e) { return open(t.Path(u"no") + kPathSep + u"x.txt", Always, e); }, Error::NotFound},
      {"open a folder as a file", [&](Error* e) { return open(sub, Existing, e); }, Error::AccessDenied},
      {"create an existing folder", [&](Error* e) { return Os().CreateDirectory(sub, e); }, Error::AlreadyExists},
      {"delete a folder", [&](Error* e) { return Os().DeleteFile(sub, e); }, Error::AccessDenied},
      {"remove a folder with a file in it", [&](Error* e) { return Os().RemoveDirectory(sub, e); }, Error::NotEmpty},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Error error = Error::None;
    EXPECT_FALSE(row.call(&error));
    EXPECT_EQ(error, row.expected);
  }
  std::uint32_t attributes = 0;
  ASSERT_TRUE(Os().GetAttributes(sub, &attributes));
  EXPECT_EQ(attributes & kAttrDirectory, kAttrDirectory);
  EXPECT_EQ(t.Read("sub/inner.txt"), "x");
  ASSERT_TRUE(Os().DeleteFile(sub + kPathSep + u"inner.txt", nullptr));
  EXPECT_TRUE(Os().RemoveDirectory(sub, nullptr));
  EXPECT_FALSE(Os().GetAttributes(sub, &attributes));
}

TEST(Enumerate, PatternsListTheMatchingNamesWithTheirAttributes) {
  TempFolder t;
  t.Write("A.PG", "1");
  t.Write("b.pg", "2");
  t.Write("noext", "3");
  t.Write("c.pgx", "4");
  std::filesystem::create_directory(t.Root() / "Doc1");
  ASSERT_TRUE(Os().SetAttributes(t.Path(u"c.pgx"), kAttrReadOnly));
  constexpr std::uint32_t D = kAttrDirectory, F = 0, RO = kAttrReadOnly;
  // Name -> read-only and folder bits of what each pattern lists.
  const struct { const Str mask; std::map<Str, std::uint32_t> expected; } rows[] = {
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
