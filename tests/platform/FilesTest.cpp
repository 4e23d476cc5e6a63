// Files through the seam, by path and relative to a held folder (both keep the same
// rules): sharing, the read-only attribute, reading and writing, delete and move; listing
// by wildcard pattern the way FindFirstFileW lists.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>

#include "TempFolder.h"

namespace es::platform {
namespace {

using testing::File;
using testing::Folder;
using testing::TempFolder;

constexpr std::uint32_t kGone = ~0u;

// "f.txt" holding "content" beside "other.txt", by path or relative to the held folder.
struct Target {
  explicit Target(bool inFolder) : inFolder(inFolder) {
    t.Write("f.txt", "content");
    t.Write("other.txt", "other");
  }
  FileHandle Open(Access access, Share share, Disposition disposition, Error* error = nullptr) const {
    return inFolder ? Os().OpenFileAt(root.handle, u"f.txt", access, share, disposition, error)
                    : Os().OpenFile(t.Path(u"f.txt"), access, share, disposition, error);
  }
  bool Delete(Error* error) const {
    return inFolder ? Os().DeleteFileAt(root.handle, u"f.txt", error) : Os().DeleteFile(t.Path(u"f.txt"), error);
  }
  bool Move(const Str& to, Error* error) const {
    return inFolder ? Os().MoveFileAt(root.handle, u"f.txt", to, error)
                    : Os().MoveFile(t.Path(u"f.txt"), t.Path(to), error);
  }
  bool SetAttributes(std::uint32_t attributes) const {
    return inFolder ? Os().SetAttributesAt(root.handle, u"f.txt", attributes, nullptr)
                    : Os().SetAttributes(t.Path(u"f.txt"), attributes);
  }
  std::uint32_t Attributes() const {  // kGone when there is no such file
    EntryInfo info;
    if (inFolder) return Os().StatAt(root.handle, u"f.txt", &info, nullptr) ? info.attributes : kGone;
    return Os().GetAttributes(t.Path(u"f.txt"), &info.attributes) ? info.attributes : kGone;
  }
  bool inFolder;
  TempFolder t;
  Folder root{Os().OpenFolder(t.Path(), false, nullptr)};
};

class Files : public ::testing::TestWithParam<bool> {};

enum Op { kOpen, kDelete, kMove, kMoveOntoOther };
constexpr Error None = Error::None, SV = Error::SharingViolation, AD = Error::AccessDenied;
constexpr Access R = Access::Read, W = Access::Write;
constexpr Disposition Existing = Disposition::OpenExisting, Always = Disposition::CreateAlways;
constexpr std::uint32_t RO = kAttrReadOnly, Normal = kAttrNormal;

// Every row first makes the file read-only and then gives it the row's attributes, so that
// making a file normal again is tried each time.
TEST_P(Files, WhatEachCallDoesBesideAHolderAndToAReadOnlyFile) {
  // held: how a first opener shares the file, if there is one; after: what f.txt then
  // holds (nullptr: it is gone). The access, share and disposition are those of kOpen.
  const struct { const char* name; std::optional<Share> held; std::uint32_t attributes; Op op; Access access;
                 Share share; Disposition disposition; Error expected; const char* after; } rows[] = {
      {"reader beside an exclusive holder", Share::None, Normal, kOpen, R, Share::Read, Existing, SV, "content"},
      {"exclusive beside an exclusive holder", Share::None, Normal, kOpen, R, Share::None, Existing, SV, "content"},
      {"exclusive beside a sharing reader", Share::Read, Normal, kOpen, R, Share::None, Existing, SV, "content"},
      {"sharing readers coexist", Share::Read, Normal, kOpen, R, Share::Read, Existing, None, "content"},
      {"CreateAlways beside an exclusive holder", Share::None, Normal, kOpen, W, Share::None, Always, SV, "content"},
      {"CreateAlways beside a sharing reader", Share::Read, Normal, kOpen, W, Share::None, Always, SV, "content"},
      {"delete of a held file", Share::Read, Normal, kDelete, R, Share::Read, Existing, SV, "content"},
      {"move of a held file", Share::Read, Normal, kMove, R, Share::Read, Existing, SV, "content"},
      {"writing a read-only file", {}, RO, kOpen, W, Share::None, Existing, AD, "content"},
      {"CreateAlways of a read-only file", {}, RO, kOpen, W, Share::None, Always, AD, "content"},
      {"delete of a read-only file", {}, RO, kDelete, R, Share::Read, Existing, AD, "content"},
      {"CreateAlways empties the file", {}, Normal, kOpen, W, Share::None, Always, None, ""},
      {"delete", {}, Normal, kDelete, R, Share::Read, Existing, None, nullptr},
      {"move never replaces", {}, Normal, kMoveOntoOther, R, Share::Read, Existing, Error::AlreadyExists, "content"},
      {"move", {}, Normal, kMove, R, Share::Read, Existing, None, nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const Target f(GetParam());
    ASSERT_TRUE(f.SetAttributes(RO) && f.SetAttributes(row.attributes));
    EXPECT_EQ(f.Attributes() & (RO | kAttrDirectory), row.attributes & RO);
    {
      File holder(row.held ? f.Open(R, *row.held, Existing) : kInvalidFile);
      EXPECT_EQ(holder.ok(), row.held.has_value());
      Error error = None;
      const bool done = row.op == kOpen     ? File(f.Open(row.access, row.share, row.disposition, &error)).ok()
                        : row.op == kDelete ? f.Delete(&error)
                                            : f.Move(row.op == kMove ? u"moved.txt" : u"other.txt", &error);
      EXPECT_EQ(done, row.expected == None);
      EXPECT_EQ(error, row.expected);
    }
    EXPECT_EQ(f.Attributes() == kGone ? "<gone>" : f.t.Read("f.txt"), row.after ? row.after : "<gone>");
    EXPECT_EQ(File(f.Open(R, Share::None, Existing)).ok(), row.after != nullptr) << "closing releases it";
    EXPECT_EQ(f.t.Read("other.txt"), "other");
    EXPECT_EQ(f.t.Read("moved.txt"), row.op == kMove && row.expected == None ? "content" : "");
  }
}

TEST_P(Files, WrittenBytesAreReadFromWhereTheReaderSeeks) {
  const Target f(GetParam());
  {
    File writer(f.Open(W, Share::None, Always));
    ASSERT_TRUE(writer.ok() && Os().Write(writer.handle, "abcdefg", 7));
  }
  File reader(f.Open(R, Share::Read, Existing));
  std::uint64_t size = 0;
  ASSERT_TRUE(Os().FileSize(reader.handle, &size) && Os().Seek(reader.handle, 3));
  EXPECT_EQ(size, 7u);
  EXPECT_EQ(testing::ReadRest(reader.handle), "defg");
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
