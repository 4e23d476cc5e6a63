// The fault-injecting backend that tests of the import put in place of the real one.
#include <gtest/gtest.h>

#include "TempFolder.h"
#include "platform/FaultInjection.h"

namespace es::platform {
namespace {

using testing::File;
using testing::Folder;

struct Stop {};

class FaultInjection : public ::testing::Test {
 protected:
  void SetUp() override {
    t.Write("a.txt", "a");
    t.Write("b.txt", "b");
  }
  FileHandle Open(const char16_t* name, Error* error = nullptr) {
    return Os().OpenFile(t.Path(name), Access::Read, Share::Read, Disposition::OpenExisting, error);
  }
  testing::TempFolder t;
  FaultyPlatform faulty;
};

TEST_F(FaultInjection, FailsTheNthCallsOfTheKindsGiven) {
  faulty.FailAt(CallKind::Open, 2);
  faulty.FailAt(CallKind::Delete, 1, 2);
  faulty.FailAt(CallKind::Enumerate, 1);
  faulty.FailAt(CallKind::SetAttributes, 1);
  faulty.FailAt(CallKind::Read, 1);
  ScopedPlatform scope(faulty);

  Error error = Error::None;
  EXPECT_TRUE(File(Open(u"a.txt")).ok());
  EXPECT_FALSE(File(Open(u"a.txt", &error)).ok());
  EXPECT_EQ(error, Error::Injected);
  {
    File third(Open(u"a.txt"));
    EXPECT_TRUE(third.ok());
    char byte = 0;
    std::size_t got = 99;
    EXPECT_FALSE(Os().Read(third.handle, &byte, 1, &got));
    EXPECT_EQ(got, 0u) << "a failed read delivers nothing";
    EXPECT_TRUE(Os().Read(third.handle, &byte, 1, &got));
    EXPECT_EQ(std::string(&byte, got), "a");
  }
  EXPECT_EQ(faulty.Count(CallKind::Open), 3);
  EXPECT_EQ(faulty.Count(CallKind::Delete), 0);

  EXPECT_FALSE(Os().DeleteFile(t.Path(u"a.txt"), &error));
  EXPECT_EQ(error, Error::Injected);
  EXPECT_FALSE(Os().DeleteFile(t.Path(u"a.txt"), &error));
  EXPECT_TRUE(t.Exists("a.txt"));
  EXPECT_TRUE(Os().DeleteFile(t.Path(u"a.txt"), &error));

  int visits = 0;
  EXPECT_FALSE(Os().Enumerate(t.Path(u"*.*"), [&](const DirEntry&) { return ++visits, true; }));
  EXPECT_EQ(visits, 0);
  EXPECT_TRUE(Os().Enumerate(t.Path(u"*.*"), [&](const DirEntry&) { return ++visits, true; }));
  EXPECT_GT(visits, 0);

  EXPECT_FALSE(Os().SetAttributes(t.Path(u"b.txt"), kAttrReadOnly));
  std::uint32_t attributes = 0;
  ASSERT_TRUE(Os().GetAttributes(t.Path(u"b.txt"), &attributes));
  EXPECT_EQ(attributes & kAttrReadOnly, 0u);
}

TEST_F(FaultInjection, ActionRunsInsteadOfTheNthCallOfSeveralKinds) {
  faulty.RunAt({CallKind::Delete, CallKind::Rename}, 2, [] { throw Stop{}; });
  ScopedPlatform scope(faulty);
  EXPECT_TRUE(Os().MoveFile(t.Path(u"a.txt"), t.Path(u"c.txt"), nullptr));
  EXPECT_THROW(Os().DeleteFile(t.Path(u"b.txt"), nullptr), Stop);
  EXPECT_TRUE(t.Exists("b.txt")) << "the stopped call must not happen";
  EXPECT_TRUE(Os().DeleteFile(t.Path(u"b.txt"), nullptr)) << "the action runs once";
}

TEST_F(FaultInjection, FolderCallsAreCountedAndFailWithTheReasonGiven) {
  faulty.FailAt(CallKind::Open, 1, 1, Error::Io);  // a flaky network share
  faulty.FailAt(CallKind::ListFolder, 1, 1, Error::Io);
  ScopedPlatform scope(faulty);

  Error error = Error::None;
  Folder folder(Os().OpenFolder(t.Path(), false, &error));
  ASSERT_TRUE(folder.ok());
  EXPECT_FALSE(File(Os().OpenFileAt(folder.handle, u"a.txt", Access::Read, Share::Read, Disposition::OpenExisting,
                                    &error)).ok());
  EXPECT_EQ(error, Error::Io);
  EXPECT_EQ(Os().LastErrorText(), u"injected: Input/output error");
  int visits = 0;
  EXPECT_FALSE(Os().ListFolder(folder.handle, [&](const FolderEntry&) { return ++visits, true; }, &error));
  EXPECT_EQ(error, Error::Io);
  EXPECT_EQ(visits, 0);

  // A failure of the real backend is its own again.
  EntryInfo info;
  EXPECT_FALSE(Os().StatAt(folder.handle, u"missing", &info, &error));
  EXPECT_EQ(error, Error::NotFound);
  EXPECT_EQ(Os().LastErrorText().find(u"injected"), Str::npos);
  EXPECT_EQ(faulty.Count(CallKind::Stat), 1);
}

TEST_F(FaultInjection, RunBeforeLetsTheCallProceed) {
  // Between the listing and the open, somebody puts a file in place.
  faulty.RunBefore({CallKind::ListFolder, CallKind::Open}, 2, [&] { t.Write("late.txt", "late"); });
  ScopedPlatform scope(faulty);
  {
    Folder folder(Os().OpenFolder(t.Path(), false, nullptr));
    ASSERT_TRUE(folder.ok());
    const FolderHandle f = folder.handle;
    int listed = 0;
    EXPECT_TRUE(Os().ListFolder(f, [&](const FolderEntry& e) { return listed += e.name == u"late.txt", true; },
                                nullptr));
    EXPECT_EQ(listed, 0);
    EXPECT_TRUE(File(Os().OpenFileAt(f, u"late.txt", Access::Read, Share::Read, Disposition::OpenExisting, nullptr))
                    .ok())
        << "the action ran first and the open went through";
    EXPECT_TRUE(Os().DeleteFileAt(f, u"late.txt", nullptr));
    EXPECT_TRUE(Os().MoveFileAt(f, u"a.txt", u"c.txt", nullptr));
    EXPECT_TRUE(Os().SetAttributesAt(f, u"b.txt", kAttrNormal, nullptr));
    EXPECT_EQ(Os().OpenSubFolder(f, u"none", nullptr), kInvalidFolder);
    EXPECT_FALSE(Os().RemoveFolderAt(f, u"none", nullptr));
  }
  // Each folder call is counted with the kind of its path counterpart.
  const std::pair<CallKind, int> counts[] = {{CallKind::OpenFolder, 2}, {CallKind::ListFolder, 1},
                                             {CallKind::Open, 1},       {CallKind::Delete, 1},
                                             {CallKind::Rename, 1},     {CallKind::SetAttributes, 1},
                                             {CallKind::RemoveDirectory, 1}};
  for (const auto& [kind, count] : counts) EXPECT_EQ(faulty.Count(kind), count) << static_cast<int>(kind);
}

TEST_F(FaultInjection, ScopeRestoresThePreviousBackend) {
  ASSERT_EQ(&Os(), &NativePlatform());
  {
    ScopedPlatform outerScope(faulty);
    EXPECT_EQ(&Os(), &faulty);
    {
      FaultyPlatform inner(static_cast<IPlatform&>(faulty));
      ScopedPlatform innerScope(inner);
      EXPECT_EQ(&Os(), &inner);
      EXPECT_FALSE(File(Open(u"none")).ok());
      EXPECT_EQ(faulty.Count(CallKind::Open), 1) << "calls pass through to the wrapped backend";
    }
    EXPECT_EQ(&Os(), &faulty);
  }
  EXPECT_EQ(&Os(), &NativePlatform());
}

}  // namespace
}  // namespace es::platform
