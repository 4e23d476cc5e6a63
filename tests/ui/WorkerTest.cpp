// The scan dialog's counting worker on its own: counts, the one-at-a-time hand-over, and
// stopping it, also when it is in the middle of a large group or cannot be stopped.
#include <atomic>
#include <filesystem>
#include <map>
#include <thread>

#include "Tessard.h"
#include "storage/Layout.h"
#include "tests/platform/TempFolder.h"
#include "tests/ui/ScanTestSupport.h"
#include "ui/EnumerationWorker.h"

namespace {

using es::Str;
using scantest::Clock;
using scantest::MillisSince;
namespace fs = std::filesystem;

class CountingWorker : public ::testing::Test {
 protected:
  void TearDown() override { es::StopRequested().store(0); }

  fs::path Root() const { return temp.Root(); }
  Str Pattern(const std::string& folder) const { return es::layout::ListingPattern(temp.Path(es::FromUtf8(folder))); }

  // Takes the next count posted by the worker; fails the test when none comes.
  es::ResultSlot NextCount(es::CEnumerationWorker& worker, scantest::Receiver& window) {
    es::ResultSlot result;
    EXPECT_EQ(es::WM_GROUP_COUNTED, window.Next(5000));
    EXPECT_TRUE(worker.TakeResult(&result));
    return result;
  }

  es::platform::testing::TempFolder temp;
};

TEST_F(CountingWorker, CountsTheDocumentFoldersBesideLockAndOrderFiles) {
  scantest::WriteGroup(Root(), "G1", "First", 3, std::vector<std::string>{"Doc00002", "Doc00000"});
  temp.Write("G1/notes.txt", "a file, not a document");
  EXPECT_EQ(u"3", es::CountDocuments(Pattern("G1")));
  scantest::WriteGroup(Root(), "Empty", "Second", 0);
  EXPECT_EQ(u"0", es::CountDocuments(Pattern("Empty")));
}

TEST_F(CountingWorker, AMissingGroupFolderCountsZero) {
  EXPECT_EQ(u"0", es::CountDocuments(Pattern("Gone")));
}

TEST_F(CountingWorker, AStopRequestEndsTheCountWithEmptyText) {
  scantest::WriteGroup(Root(), "G1", "First", 3);
  es::StopRequested().store(1);
  EXPECT_EQ(u"", es::CountDocuments(Pattern("G1")));
}

TEST_F(CountingWorker, HandsTheCountsOverOneAtATimeInListOrder) {
  scantest::WriteGroup(Root(), "G1", "Same", 2);
  scantest::WriteGroup(Root(), "G2", "Same", 5);
  scantest::WriteGroup(Root(), "G3", "Third", 0);
  auto window = std::make_shared<scantest::Receiver>();
  es::CEnumerationWorker worker;
  ASSERT_TRUE(worker.Start(window, temp.Path(), {u"G2", u"G1", u"G3"}, {u"Same", u"Same", u"Third"}));

  EXPECT_EQ(es::WM_GROUP_COUNTED, window->Next(5000));
  // Until the dialog has taken the count, the worker waits with the next one.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(0u, window->Pending());
  es::ResultSlot first;
  ASSERT_TRUE(worker.TakeResult(&first));
  EXPECT_EQ(u"Same", first.groupName);
  EXPECT_EQ(u"G2", first.folderName);
  EXPECT_EQ(u"5", first.count);

  const es::ResultSlot second = NextCount(worker, *window);
  EXPECT_EQ(u"G1", second.folderName);
  EXPECT_EQ(u"2", second.count);
  const es::ResultSlot third = NextCount(worker, *window);
  EXPECT_EQ(u"Third", third.groupName);
  EXPECT_EQ(u"0", third.count);
  EXPECT_TRUE(worker.Stop());
  EXPECT_EQ(0u, window->Pending());
  EXPECT_TRUE(es::TheWorkerParams().folderNames.empty()) << "emptied by the worker at its end";
}

TEST_F(CountingWorker, WithoutGroupsTheWorkerEndsAtOnce) {
  auto window = std::make_shared<scantest::Receiver>();
  es::CEnumerationWorker worker;
  ASSERT_TRUE(worker.Start(window, temp.Path(), {}, {}));
  EXPECT_TRUE(worker.Stop()) << "ended within the bound";
  EXPECT_FALSE(worker.Held());
  EXPECT_EQ(0u, window->Pending());
}

TEST_F(CountingWorker, RegistersItsThreadWithTheLoggingLayerWhileItRuns) {
  scantest::WriteGroup(Root(), "HeldGroup", "Held", 1);
  scantest::HookPlatform hook;
  scantest::Latch listing, release;
  scantest::OpenOnExit unblock(release);
  hook.folder = u"HeldGroup";
  hook.beforeListing = [&] {
    listing.Open();
    release.Wait(10000);
  };
  es::platform::ScopedPlatform installed(hook);
  const int before = TessardRegisteredThreads();
  auto window = std::make_shared<scantest::Receiver>();
  es::CEnumerationWorker worker;
  ASSERT_TRUE(worker.Start(window, temp.Path(), {u"HeldGroup"}, {u"Held"}));
  ASSERT_TRUE(listing.Wait(5000));
  EXPECT_EQ(before + 1, TessardRegisteredThreads());
  release.Open();
  NextCount(worker, *window);
  EXPECT_TRUE(worker.Stop());
  EXPECT_EQ(before, TessardRegisteredThreads());
}

TEST_F(CountingWorker, StoppingDuringALargeGroupEndsWithinOneDirectoryEntry) {
  scantest::WriteGroup(Root(), "LargeGroup", "Large", 1000);
  scantest::HookPlatform hook;
  scantest::Latch counting;
  std::atomic<int> afterStop{0};
  hook.folder = u"LargeGroup";
  hook.beforeEntry = [&](int entry) {
    if (es::StopRequested().load() == 1) ++afterStop;
    if (entry == 20) counting.Open();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));  // a slow file system
  };
  es::platform::ScopedPlatform installed(hook);
  auto window = std::make_shared<scantest::Receiver>();
  es::CEnumerationWorker worker;
  ASSERT_TRUE(worker.Start(window, temp.Path(), {u"LargeGroup"}, {u"Large"}));
  ASSERT_TRUE(counting.Wait(5000));
  EXPECT_TRUE(worker.Stop()) << "ended within the bound";
  EXPECT_LE(afterStop.load(), 1) << "the worker ends within one directory entry";
  EXPECT_EQ(0u, window->Pending()) << "a stopped count is not handed over";
}

TEST_F(CountingWorker, AWorkerThatCannotBeStoppedBlocksEveryFurtherStart) {
  scantest::WriteGroup(Root(), "StuckGroup", "Stuck", 1);
  scantest::WriteGroup(Root(), "Other", "Other", 2);
  scantest::HookPlatform hook;
  scantest::Latch listing, release;
  scantest::OpenOnExit unblock(release);
  hook.folder = u"StuckGroup";
  hook.beforeListing = [&] {
    listing.Open();
    release.Wait(30000);  // deaf to the stop flag
  };
  es::platform::ScopedPlatform installed(hook);
  auto window = std::make_shared<scantest::Receiver>();
  es::CEnumerationWorker worker;
  ASSERT_TRUE(worker.Start(window, temp.Path(), {u"StuckGroup", u"Other"}, {u"Stuck", u"Other"}));
  ASSERT_TRUE(listing.Wait(5000));

  auto start = Clock::now();
  EXPECT_FALSE(worker.Stop());
  EXPECT_GE(MillisSince(start), es::kWorkerStopTimeoutMs - 100);
  EXPECT_TRUE(worker.Held());
  start = Clock::now();
  EXPECT_FALSE(worker.Start(window, temp.Path(), {u"Other"}, {u"Other"}));
  EXPECT_LT(MillisSince(start), es::kWorkerStopTimeoutMs) << "the full time is waited once per worker";
  {
    // A later dialog must not start a second worker beside it either.
    es::CEnumerationWorker later;
    EXPECT_FALSE(later.Start(window, temp.Path(), {u"Other"}, {u"Other"}));
  }

  release.Open();
  start = Clock::now();
  while (!worker.Stop() && MillisSince(start) < 10000) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_FALSE(worker.Held());
  EXPECT_EQ(0u, window->Pending()) << "the stopped worker handed nothing over";
  ASSERT_TRUE(worker.Start(window, temp.Path(), {u"Other"}, {u"Other"}));
  EXPECT_EQ(u"2", NextCount(worker, *window).count);
  EXPECT_TRUE(worker.Stop());
}

TEST_F(CountingWorker, AGroupFolderRemovedWhileCountedCountsZero) {
  scantest::WriteGroup(Root(), "Vanishing", "Vanishing", 4);
  scantest::HookPlatform hook;
  hook.folder = u"Vanishing";
  hook.beforeListing = [&] { fs::remove_all(Root() / "Vanishing"); };
  es::platform::ScopedPlatform installed(hook);
  auto window = std::make_shared<scantest::Receiver>();
  es::CEnumerationWorker worker;
  ASSERT_TRUE(worker.Start(window, temp.Path(), {u"Vanishing"}, {u"Vanishing"}));
  const es::ResultSlot result = NextCount(worker, *window);
  EXPECT_EQ(u"Vanishing", result.folderName);
  EXPECT_EQ(u"0", result.count);
  EXPECT_TRUE(worker.Stop());
}

TEST_F(CountingWorker, ACountOfAStoppedWorkerStillQueuedLosesNoCountOfTheNext) {
  for (int i = 0; i < 6; ++i) scantest::WriteGroup(Root(), "G" + std::to_string(i), "Group", i);
  const es::StrArray folders{u"G0", u"G1", u"G2", u"G3", u"G4", u"G5"};
  const es::StrArray names(folders.size(), u"Group");
  auto window = std::make_shared<scantest::Receiver>();
  es::CEnumerationWorker worker;
  ASSERT_TRUE(worker.Start(window, temp.Path(), folders, names));
  // The first count is posted, then the list is reloaded before the dialog takes it: its
  // message is still queued when the next worker starts.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ASSERT_EQ(1u, window->Pending());
  ASSERT_TRUE(worker.Start(window, temp.Path(), folders, names));

  std::map<Str, Str> counts;
  es::ResultSlot result;
  while (window->Next(1000) == es::WM_GROUP_COUNTED) {
    if (worker.TakeResult(&result)) {
      EXPECT_EQ(0u, counts.count(result.folderName)) << "counted twice: " << es::ToUtf8(result.folderName);
      counts[result.folderName] = result.count;
    }
  }
  ASSERT_EQ(folders.size(), counts.size());
  for (int i = 0; i < 6; ++i) EXPECT_EQ(es::DecimalText(i), counts[folders[static_cast<std::size_t>(i)]]);
  EXPECT_TRUE(worker.Stop());
}

}  // namespace
