// Files through the seam: sharing, the read-only attribute, delete and rename rules.
#include <gtest/gtest.h>

#include "TempFolder.h"
#include "platform/Platform.h"

namespace es::platform {
namespace {

using testing::TempFolder;

// Closes what it opened, so that a failed expectation leaves no lock behind.
class Opened {
 public:
  Opened(const Str& path, Access access, Share share, Disposition disposition = Disposition::OpenExisting)
      : file_(Os().OpenFile(path, access, share, disposition, &error_)) {}
  ~Opened() { Os().Close(file_); }
  Opened(const Opened&) = delete;
  Opened& operator=(const Opened&) = delete;
  bool ok() const { return file_ != kInvalidFile; }
  FileHandle get() const { return file_; }
  Error error() const { return error_; }

 private:
  Error error_ = Error::None;
  FileHandle file_;
};

class Files : public ::testing::Test {
 protected:
  void SetUp() override { folder_.Write("f.txt", "content"); }
  Str File() const { return folder_.Path(u"f.txt"); }
  TempFolder folder_;
};

TEST_F(Files, ShareNoneShutsOutEveryOtherOpener) {
  Opened holder(File(), Access::Read, Share::None);
  ASSERT_TRUE(holder.ok());
  Opened reader(File(), Access::Read, Share::Read);
  EXPECT_FALSE(reader.ok());
  EXPECT_EQ(reader.error(), Error::SharingViolation);
  Opened exclusive(File(), Access::Read, Share::None);
  EXPECT_FALSE(exclusive.ok());
  EXPECT_EQ(exclusive.error(), Error::SharingViolation);
}

TEST_F(Files, ShareNoneFailsWhileAReaderHoldsTheFile) {
  Opened reader(File(), Access::Read, Share::Read);
  ASSERT_TRUE(reader.ok());
  Opened exclusive(File(), Access::Read, Share::None);
  EXPECT_FALSE(exclusive.ok());
  EXPECT_EQ(exclusive.error(), Error::SharingViolation);
}

TEST_F(Files, SharingReadersCoexist) {
  Opened first(File(), Access::Read, Share::Read);
  Opened second(File(), Access::Read, Share::Read);
  EXPECT_TRUE(first.ok());
  EXPECT_TRUE(second.ok());
}

TEST_F(Files, ClosingReleasesTheFile) {
  { Opened holder(File(), Access::Read, Share::None); }
  Opened again(File(), Access::Read, Share::None);
  EXPECT_TRUE(again.ok());
}

TEST_F(Files, CreateAlwaysDoesNotEmptyAHeldFile) {
  Opened holder(File(), Access::Read, Share::None);
  ASSERT_TRUE(holder.ok());
  Opened writer(File(), Access::Write, Share::None, Disposition::CreateAlways);
  EXPECT_FALSE(writer.ok());
  std::uint64_t size = 0;
  ASSERT_TRUE(Os().FileSize(holder.get(), &size));
  EXPECT_EQ(size, 7u);
}

TEST_F(Files, CreateAlwaysTruncatesAndWrites) {
  {
    Opened writer(File(), Access::Write, Share::None, Disposition::CreateAlways);
    ASSERT_TRUE(writer.ok());
    ASSERT_TRUE(Os().Write(writer.get(), "ab", 2));
  }
  EXPECT_EQ(folder_.Read("f.txt"), "ab");
}

TEST_F(Files, ReadSeekAndSize) {
  Opened reader(File(), Access::Read, Share::Read);
  ASSERT_TRUE(reader.ok());
  std::uint64_t size = 0;
  ASSERT_TRUE(Os().FileSize(reader.get(), &size));
  EXPECT_EQ(size, 7u);
  ASSERT_TRUE(Os().Seek(reader.get(), 3));
  char buffer[16] = {};
  std::size_t got = 0;
  ASSERT_TRUE(Os().Read(reader.get(), buffer, sizeof buffer, &got));
  EXPECT_EQ(std::string(buffer, got), "tent");
  ASSERT_TRUE(Os().Read(reader.get(), buffer, sizeof buffer, &got));
  EXPECT_EQ(got, 0u);
}

TEST_F(Files, MissingFileAndFolderAreNotFound) {
  Opened missing(folder_.Path(u"nothing.txt"), Access::Read, Share::Read);
  EXPECT_FALSE(missing.ok());
  EXPECT_EQ(missing.error(), Error::NotFound);
  Opened inMissingFolder(folder_.Path(u"no") + kPathSep + u"x.txt", Access::Write, Share::None,
                         Disposition::CreateAlways);
  EXPECT_FALSE(inMissingFolder.ok());
  EXPECT_EQ(inMissingFolder.error(), Error::NotFound);
}

TEST_F(Files, ADirectoryDoesNotOpenAsAFile) {
  Opened folder(folder_.Path(), Access::Read, Share::Read);
  EXPECT_FALSE(folder.ok());
  EXPECT_EQ(folder.error(), Error::AccessDenied);
}

TEST_F(Files, ReadOnlyFileRefusesDeleteUntilMadeNormal) {
  ASSERT_TRUE(Os().SetAttributes(File(), kAttrReadOnly));
  std::uint32_t attributes = 0;
  ASSERT_TRUE(Os().GetAttributes(File(), &attributes));
  EXPECT_EQ(attributes & (kAttrReadOnly | kAttrDirectory), kAttrReadOnly);

  Error error = Error::None;
  EXPECT_FALSE(Os().DeleteFile(File(), &error));
  EXPECT_EQ(error, Error::AccessDenied);
  Opened writer(File(), Access::Write, Share::None);
  EXPECT_FALSE(writer.ok());
  EXPECT_EQ(writer.error(), Error::AccessDenied);

  ASSERT_TRUE(Os().SetAttributes(File(), kAttrNormal));
  ASSERT_TRUE(Os().GetAttributes(File(), &attributes));
  EXPECT_EQ(attributes & kAttrReadOnly, 0u);
  EXPECT_TRUE(Os().DeleteFile(File(), &error));
  EXPECT_FALSE(Os().GetAttributes(File(), &attributes));
}

TEST_F(Files, DeleteAndMoveRefuseAHeldFile) {
  {
    Opened holder(File(), Access::Read, Share::Read);
    ASSERT_TRUE(holder.ok());
    Error error = Error::None;
    EXPECT_FALSE(Os().DeleteFile(File(), &error));
    EXPECT_EQ(error, Error::SharingViolation);
    EXPECT_FALSE(Os().MoveFile(File(), folder_.Path(u"moved.txt"), &error));
    EXPECT_EQ(error, Error::SharingViolation);
  }
  EXPECT_TRUE(Os().DeleteFile(File(), nullptr));
}

TEST_F(Files, DeleteRefusesAFolderAndRemoveDirectoryWantsItEmpty) {
  const Str sub = folder_.Path(u"sub");
  ASSERT_TRUE(Os().CreateDirectory(sub, nullptr));
  Error error = Error::None;
  EXPECT_FALSE(Os().CreateDirectory(sub, &error));
  EXPECT_EQ(error, Error::AlreadyExists);
  EXPECT_FALSE(Os().DeleteFile(sub, &error));
  EXPECT_EQ(error, Error::AccessDenied);

  std::uint32_t attributes = 0;
  ASSERT_TRUE(Os().GetAttributes(sub, &attributes));
  EXPECT_EQ(attributes & kAttrDirectory, kAttrDirectory);

  folder_.Write("sub/inner.txt", "x");
  EXPECT_FALSE(Os().RemoveDirectory(sub, &error));
  EXPECT_EQ(error, Error::NotEmpty);
  ASSERT_TRUE(Os().DeleteFile(sub + kPathSep + u"inner.txt", nullptr));
  EXPECT_TRUE(Os().RemoveDirectory(sub, &error));
  EXPECT_FALSE(Os().GetAttributes(sub, &attributes));
}

TEST_F(Files, MoveFileNeverReplaces) {
  folder_.Write("other.txt", "other");
  Error error = Error::None;
  EXPECT_FALSE(Os().MoveFile(File(), folder_.Path(u"other.txt"), &error));
  EXPECT_EQ(error, Error::AlreadyExists);
  EXPECT_EQ(folder_.Read("other.txt"), "other");
  EXPECT_EQ(folder_.Read("f.txt"), "content");

  EXPECT_TRUE(Os().MoveFile(File(), folder_.Path(u"moved.txt"), &error));
  EXPECT_EQ(folder_.Read("moved.txt"), "content");
  std::uint32_t attributes = 0;
  EXPECT_FALSE(Os().GetAttributes(File(), &attributes));
}

TEST_F(Files, AttributesOfAPlainFileAreNormal) {
  std::uint32_t attributes = 0;
  ASSERT_TRUE(Os().GetAttributes(File(), &attributes));
  EXPECT_EQ(attributes & (kAttrReadOnly | kAttrDirectory), 0u);
  EXPECT_FALSE(Os().GetAttributes(folder_.Path(u"missing"), &attributes));
}

}  // namespace
}  // namespace es::platform
