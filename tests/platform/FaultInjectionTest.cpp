// The fault-injecting backend that tests of the import put in place of the real one.
#include <gtest/gtest.h>

#include "TempFolder.h"
#include "platform/FaultInjection.h"

namespace es::platform {
namespace {

using testing::TempFolder;

struct Stop {};

class FaultInjection : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_.Write("a.txt", "a");
    folder_.Write("b.txt", "b");
  }
  FileHandle Open(const char16_t* name, Error* error) {
    return Os().OpenFile(folder_.Path(name), Access::Read, Share::Read, Disposition::OpenExisting, error);
  }
  TempFolder folder_;
};

TEST_F(FaultInjection, FailsTheNthCallOfAKind) {
  FaultyPlatform faulty;
  faulty.FailAt(CallKind::Open, 2);
  ScopedPlatform scope(faulty);

  Error error = Error::None;
  FileHandle first = Open(u"a.txt", &error);
  EXPECT_NE(first, kInvalidFile);
  Os().Close(first);
  EXPECT_EQ(Open(u"a.txt", &error), kInvalidFile);
  EXPECT_EQ(error, Error::Injected);
  FileHandle third = Open(u"a.txt", &error);
  EXPECT_NE(third, kInvalidFile);
  Os().Close(third);
  EXPECT_EQ(faulty.Count(CallKind::Open), 3);
  EXPECT_EQ(faulty.Count(CallKind::Delete), 0);
}

TEST_F(FaultInjection, FailsAdjacentCallsAndOtherKinds) {
  FaultyPlatform faulty;
  faulty.FailAt(CallKind::Delete, 1, 2);
  faulty.FailAt(CallKind::Enumerate, 1);
  faulty.FailAt(CallKind::SetAttributes, 1);
  ScopedPlatform scope(faulty);

  Error error = Error::None;
  EXPECT_FALSE(Os().DeleteFile(folder_.Path(u"a.txt"), &error));
  EXPECT_EQ(error, Error::Injected);
  EXPECT_FALSE(Os().DeleteFile(folder_.Path(u"a.txt"), &error));
  EXPECT_TRUE(Os().DeleteFile(folder_.Path(u"a.txt"), &error));

  int visits = 0;
  EXPECT_FALSE(Os().Enumerate(folder_.Path(u"*.*"), [&](const DirEntry&) { return ++visits, true; }));
  EXPECT_EQ(visits, 0);
  EXPECT_TRUE(Os().Enumerate(folder_.Path(u"*.*"), [&](const DirEntry&) { return ++visits, true; }));
  EXPECT_GT(visits, 0);

  EXPECT_FALSE(Os().SetAttributes(folder_.Path(u"b.txt"), kAttrReadOnly));
  std::uint32_t attributes = 0;
  ASSERT_TRUE(Os().GetAttributes(folder_.Path(u"b.txt"), &attributes));
  EXPECT_EQ(attributes & kAttrReadOnly, 0u);
}

TEST_F(FaultInjection, FailedReadDeliversNothing) {
  FaultyPlatform faulty;
  faulty.FailAt(CallKind::Read, 1);
  ScopedPlatform scope(faulty);
  FileHandle file = Open(u"a.txt", nullptr);
  ASSERT_NE(file, kInvalidFile);
  char byte = 0;
  std::size_t got = 99;
  EXPECT_FALSE(Os().Read(file, &byte, 1, &got));
  EXPECT_EQ(got, 0u);
  EXPECT_TRUE(Os().Read(file, &byte, 1, &got));
  EXPECT_EQ(got, 1u);
  EXPECT_EQ(byte, 'a');
  Os().Close(file);
}

TEST_F(FaultInjection, ActionRunsInsteadOfTheNthCallOfSeveralKinds) {
  FaultyPlatform faulty;
  faulty.RunAt({CallKind::Delete, CallKind::Rename}, 2, [] { throw Stop{}; });
  ScopedPlatform scope(faulty);

  EXPECT_TRUE(Os().MoveFile(folder_.Path(u"a.txt"), folder_.Path(u"c.txt"), nullptr));
  EXPECT_THROW(Os().DeleteFile(folder_.Path(u"b.txt"), nullptr), Stop);
  std::uint32_t attributes = 0;
  EXPECT_TRUE(Os().GetAttributes(folder_.Path(u"b.txt"), &attributes)) << "the stopped call must not happen";
  EXPECT_TRUE(Os().DeleteFile(folder_.Path(u"b.txt"), nullptr)) << "the action runs once";
}

TEST_F(FaultInjection, FolderCallsAreCountedAndFailWithTheReasonGiven) {
  FaultyPlatform faulty;
  faulty.FailAt(CallKind::Open, 1, 1, Error::Io);  // a flaky network share
  faulty.FailAt(CallKind::ListFolder, 1, 1, Error::Io);
  ScopedPlatform scope(faulty);

  Error error = Error::None;
  const FolderHandle folder = Os().OpenFolder(folder_.Path(), false, &error);
  ASSERT_NE(folder, kInvalidFolder);
  EXPECT_EQ(Os().OpenFileAt(folder, u"a.txt", Access::Read, Share::Read, Disposition::OpenExisting, &error),
            kInvalidFile);
  EXPECT_EQ(error, Error::Io);
  EXPECT_EQ(Os().LastErrorText(), u"injected: Input/output error");
  int visits = 0;
  EXPECT_FALSE(Os().ListFolder(folder, [&](const FolderEntry&) { return ++visits, true; }, &error));
  EXPECT_EQ(error, Error::Io);
  EXPECT_EQ(visits, 0);

  // A failure of the real backend is its own again.
  EntryInfo info;
  EXPECT_FALSE(Os().StatAt(folder, u"missing", &info, &error));
  EXPECT_EQ(error, Error::NotFound);
  EXPECT_EQ(Os().LastErrorText().find(u"injected"), Str::npos);

  EXPECT_EQ(faulty.Count(CallKind::Stat), 1);
  Os().CloseFolder(folder);
}

TEST_F(FaultInjection, RunBeforeLetsTheCallProceed) {
  FaultyPlatform faulty;
  // Between the listing and the open, somebody puts a file in place.
  faulty.RunBefore({CallKind::ListFolder, CallKind::Open}, 2, [&] { folder_.Write("late.txt", "late"); });
  ScopedPlatform scope(faulty);

  const FolderHandle folder = Os().OpenFolder(folder_.Path(), false, nullptr);
  ASSERT_NE(folder, kInvalidFolder);
  int listed = 0;
  EXPECT_TRUE(Os().ListFolder(
      folder, [&](const FolderEntry& entry) { return listed += entry.name == u"late.txt", true; }, nullptr));
  EXPECT_EQ(listed, 0);
  Error error = Error::None;
  const FileHandle file =
      Os().OpenFileAt(folder, u"late.txt", Access::Read, Share::Read, Disposition::OpenExisting, &error);
  EXPECT_NE(file, kInvalidFile) << "the action ran first and the open went through";
  Os().Close(file);
  EXPECT_TRUE(Os().DeleteFileAt(folder, u"late.txt", nullptr));
  EXPECT_TRUE(Os().MoveFileAt(folder, u"a.txt", u"c.txt", nullptr));
  EXPECT_TRUE(Os().SetAttributesAt(folder, u"b.txt", kAttrNormal, nullptr));
  EXPECT_EQ(Os().OpenSubFolder(folder, u"none", nullptr), kInvalidFolder);
  EXPECT_FALSE(Os().RemoveFolderAt(folder, u"none", nullptr));
  Os().CloseFolder(folder);

  // Each folder call is counted with the kind of its path counterpart.
  EXPECT_EQ(faulty.Count(CallKind::OpenFolder), 2);
  EXPECT_EQ(faulty.Count(CallKind::ListFolder), 1);
  EXPECT_EQ(faulty.Count(CallKind::Open), 1);
  EXPECT_EQ(faulty.Count(CallKind::Delete), 1);
  EXPECT_EQ(faulty.Count(CallKind::Rename), 1);
  EXPECT_EQ(faulty.Count(CallKind::SetAttributes), 1);
  EXPECT_EQ(faulty.Count(CallKind::RemoveDirectory), 1);
}

TEST_F(FaultInjection, ScopeRestoresThePreviousBackend) {
  ASSERT_EQ(&Os(), &NativePlatform());
  {
    FaultyPlatform outer;
    ScopedPlatform outerScope(outer);
    EXPECT_EQ(&Os(), &outer);
    {
      FaultyPlatform inner(static_cast<IPlatform&>(outer));
      ScopedPlatform innerScope(inner);
      EXPECT_EQ(&Os(), &inner);
      EXPECT_EQ(Os().OpenFile(folder_.Path(u"none"), Access::Read, Share::Read, Disposition::OpenExisting, nullptr),
                kInvalidFile);
      EXPECT_EQ(outer.Count(CallKind::Open), 1) << "calls pass through to the wrapped backend";
    }
    EXPECT_EQ(&Os(), &outer);
  }
  EXPECT_EQ(&Os(), &NativePlatform());
}

}  // namespace
}  // namespace es::platform
