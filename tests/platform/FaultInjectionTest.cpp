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

TEST_F(FaultInjection, FailsTheNthCallsOfTheKindsGivenWithTheReasonGiven) {
  faulty.FailAt(CallKind::Open, 2, 1, Error::Io);  // a flaky network share
  faulty.FailAt(CallKind::Delete, 1, 2);
  faulty.FailAt(CallKind::Enumerate, 1);
  faulty.FailAt(CallKind::ListFolder, 1);
  faulty.FailAt(CallKind::SetAttributes, 1);
  faulty.FailAt(CallKind::Read, 1);
  ScopedPlatform scope(faulty);

  Error error = Error::None;
  Folder folder(Os().OpenFolder(t.Path(), false, &error));
  EXPECT_TRUE(File(Open(u"a.txt")).ok());
  EXPECT_FALSE(File(Os().OpenFileAt(folder.handle, u"a.txt", Access::Read, Share::Read, Disposition::OpenExisting,
                                    &error)).ok());
  EXPECT_EQ(error, Error::Io);
  EXPECT_EQ(Os().LastErrorText(), u"injected: Input/output error");
  {
    File third(Open(u"a.txt"));
    char byte = 0;
    std::size_t got = 99;
    EXPECT_FALSE(Os().Read(third.handle, &byte, 1, &got));
    EXPECT_EQ(got, 0u) << "a failed read delivers nothing";
    EXPECT_TRUE(Os().Read(third.handle, &byte, 1, &got));
    EXPECT_EQ(std::string(&byte, got), "a");
  }
  EXPECT_EQ(std::pair(faulty.Count(CallKind::Open), faulty.Count(CallKind::Delete)), std::pair(3, 0));

  EXPECT_FALSE(Os().DeleteFile(t.Path(u"a.txt"), &error));
  EXPECT_EQ(error, Error::Injected);
  EXPECT_FALSE(Os().DeleteFileAt(folder.handle, u"a.txt", &error));
  EXPECT_TRUE(t.Exists("a.txt")) << "the failed call must not happen";
  EXPECT_TRUE(Os().DeleteFile(t.Path(u"a.txt"), &error));

  int visits = 0;
  const auto visit = [&](const auto&) { return ++visits, true; };
  EXPECT_FALSE(Os().Enumerate(t.Path(u"*.*"), visit));
  EXPECT_FALSE(Os().ListFolder(folder.handle, visit, &error));
  EXPECT_EQ(visits, 0);
  EXPECT_TRUE(Os().Enumerate(t.Path(u"*.*"), visit));
  EXPECT_GT(visits, 0);

  EXPECT_FALSE(Os().SetAttributes(t.Path(u"b.txt"), kAttrReadOnly));
  std::uint32_t attributes = 0;
  ASSERT_TRUE(Os().GetAttributes(t.Path(u"b.txt"), &attributes));
  EXPECT_EQ(attributes & kAttrReadOnly, 0u);

  // A failure of the real backend is its own again.
  EntryInfo info;
  EXPECT_FALSE(Os().StatAt(folder.handle, u"missing", &info, &error));
  EXPECT_EQ(error, Error::NotFound);
  EXPECT_EQ(Os().LastErrorText().find(u"injected"), Str::npos);
  EXPECT_EQ(faulty.Count(CallKind::Stat), 1);
}

TEST_F(FaultInjection, ActionsRunInsteadOfOrBeforeTheNthCallOfSeveralKinds) {
  faulty.RunAt({CallKind::Delete, CallKind::Rename}, 2, [] { throw Stop{}; });
  // Between the listing and the open, somebody puts a file in place.
  faulty.RunBefore({CallKind::ListFolder, CallKind::Open}, 2, [&] { t.Write("late.txt", "late"); });
  ScopedPlatform scope(faulty);
  {
    Folder folder(Os().OpenFolder(t.Path(), false, nullptr));
    const FolderHandle f = folder.handle;
    int listed = 0;
    EXPECT_TRUE(Os().ListFolder(f, [&](const FolderEntry& e) { return listed += e.name == u"late.txt", true; },
                                nullptr));
    EXPECT_EQ(listed, 0);
    EXPECT_TRUE(File(Os().OpenFileAt(f, u"late.txt", Access::Read, Share::Read, Disposition::OpenExisting, nullptr))
                    .ok())
        << "the action ran first and the open went through";
    EXPECT_TRUE(Os().MoveFileAt(f, u"a.txt", u"c.txt", nullptr));
    EXPECT_THROW(Os().DeleteFileAt(f, u"late.txt", nullptr), Stop);
    EXPECT_TRUE(t.Exists("late.txt")) << "the stopped call must not happen";
    EXPECT_TRUE(Os().DeleteFileAt(f, u"late.txt", nullptr)) << "the action runs once";
    EXPECT_TRUE(Os().SetAttributesAt(f, u"b.txt", kAttrNormal, nullptr));
    EXPECT_EQ(Os().OpenSubFolder(f, u"none", nullptr), kInvalidFolder);
    EXPECT_FALSE(Os().RemoveFolderAt(f, u"none", nullptr));
  }
  // Each folder call is counted with the kind of its path counterpart.
  const std::pair<CallKind, int> counts[] = {{CallKind::OpenFolder, 2}, {CallKind::ListFolder, 1},
                                             {CallKind::Open, 1},       {CallKind::Delete, 2},
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
