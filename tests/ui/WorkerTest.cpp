// The scan dialog's counting worker on its own: counts, the one-at-a-time hand-over, and
// stopping it, also when it is in the middle of a large group or cannot be stopped.
#include <map>

#include "Tessard.h"
#include "storage/Layout.h"
#include "tests/support/TempFolder.h"
#include "tests/ui/ScanTestSupport.h"
#include "ui/EnumerationWorker.h"

namespace {

using es::Str;
using scantest::Clock;
using scantest::MillisSince;
namespace fs = std::filesystem;

class CountingWorker : public ::testing::Test, protected scantest::Hooked {
 protected:
  // A dialog that stopped its worker earlier in this process leaves the flag set; only
  // Start clears it, and these tests also count without starting.
  void SetUp() override { es::StopRequested().store(0); }
  void TearDown() override { es::StopRequested().store(0); }
  fs::path Root() const { return temp.Root(); }
  bool Start(const es::StrArray& folders, const es::StrArray& names) {
    return worker.Start(window, temp.Path(), folders, names);
  }
  // The next count posted; fails the test when none comes.
  es::ResultSlot NextCount() {
    es::ResultSlot result;
    EXPECT_EQ(es::WM_GROUP_COUNTED, window->Next(5000));
    EXPECT_TRUE(worker.TakeResult(&result));
    return result;
  }

  estest::TempFolder temp;
  std::shared_ptr<scantest::Receiver> window = std::make_shared<scantest::Receiver>();
  es::CEnumerationWorker worker;
};

TEST_F(CountingWorker, CountsTheDocumentFoldersOnly) {
  scantest::WriteGroup(Root(), "G1", "First", 3, std::vector<std::string>{"Doc00002", "Doc00000"});
  temp.Write("G1/notes.txt", "a file, not a document");
  scantest::WriteGroup(Root(), "Empty", "Second", 0);
  auto count = [&](const char* folder) { return es::CountDocuments(es::layout::ListingPattern(temp.Path(es::FromUtf8(folder)))); };
  EXPECT_EQ((std::vector<Str>{u"3", u"0", u"0"}), (std::vector<Str>{count("G1"), count("Empty"), count("Gone")}));
  es::StopRequested().store(1);
  EXPECT_EQ(u"", count("G1")) << "a stop request ends the count with no text";
}

TEST_F(CountingWorker, HandsTheCountsOverOneAtATimeInListOrder) {
  scantest::WriteGroup(Root(), "G1", "Same", 2);
  scantest::WriteGroup(Root(), "G2", "Same", 5);
  scantest::WriteGroup(Root(), "G3", "Third", 0);
  ASSERT_TRUE(Start({u"G2", u"G1", u"G3"}, {u"Same", u"Same", u"Third"}));
  EXPECT_EQ(es::WM_GROUP_COUNTED, window->Next(5000));
  // Until the dialog has taken the count, the worker waits with the next one.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(0u, window->Pending());
  es::ResultSlot first;
  ASSERT_TRUE(worker.TakeResult(&first));
  std::vector<Str> slots{first.groupName, first.folderName, first.count};
  for (int i = 0; i < 2; ++i) {
    const es::ResultSlot next = NextCount();
    slots.insert(slots.end(), {next.groupName, next.folderName, next.count});
  }
  EXPECT_EQ((std::vector<Str>{u"Same", u"G2", u"5", u"Same", u"G1", u"2", u"Third", u"G3", u"0"}), slots);
  EXPECT_TRUE(worker.Stop());
  EXPECT_EQ(0u, window->Pending());
  EXPECT_TRUE(es::TheWorkerParams().folderNames.empty()) << "emptied by the worker at its end";

  ASSERT_TRUE(Start({}, {}));  // without groups it ends at once
  EXPECT_TRUE(worker.Stop());
  EXPECT_FALSE(worker.Held());
  EXPECT_EQ(0u, window->Pending());
}

TEST_F(CountingWorker, RegistersItsThreadWithTheLoggingLayerWhileItRuns) {
  scantest::WriteGroup(Root(), "HeldGroup", "Held", 1);
  hook.folder = u"HeldGroup";
  hook.beforeListing = [&] { listing.Open(), release.Wait(10000); };
  const int before = TessardRegisteredThreads();
  ASSERT_TRUE(Start({u"HeldGroup"}, {u"Held"}));
  ASSERT_TRUE(listing.Wait(5000));
  EXPECT_EQ(before + 1, TessardRegisteredThreads());
  release.Open();
  NextCount();
  EXPECT_TRUE(worker.Stop());
  EXPECT_EQ(before, TessardRegisteredThreads());
}

TEST_F(CountingWorker, StoppingDuringALargeGroupEndsWithinOneDirectoryEntry) {
  scantest::WriteGroup(Root(), "LargeGroup", "Large", 1000);
  Slow(u"LargeGroup");
  ASSERT_TRUE(Start({u"LargeGroup"}, {u"Large"}));
  ASSERT_TRUE(listing.Wait(5000));
  EXPECT_TRUE(worker.Stop()) << "ended within the bound";
  EXPECT_LE(afterStop.load(), 1) << "the worker ends within one directory entry";
  EXPECT_EQ(0u, window->Pending()) << "a stopped count is not handed over";
}

TEST_F(CountingWorker, AWorkerThatCannotBeStoppedBlocksEveryFurtherStart) {
  scantest::WriteGroup(Root(), "StuckGroup", "Stuck", 1);
  scantest::WriteGroup(Root(), "Other", "Other", 2);
  Stuck(u"StuckGroup");
  ASSERT_TRUE(Start({u"StuckGroup", u"Other"}, {u"Stuck", u"Other"}));
  ASSERT_TRUE(listing.Wait(5000));

  auto start = Clock::now();
  EXPECT_FALSE(worker.Stop());
  EXPECT_GE(MillisSince(start), es::kWorkerStopTimeoutMs - 100);
  EXPECT_TRUE(worker.Held());
  start = Clock::now();
  EXPECT_FALSE(Start({u"Other"}, {u"Other"}));
  EXPECT_LT(MillisSince(start), es::kWorkerStopTimeoutMs) << "the full time is waited once per worker";
  EXPECT_FALSE(es::CEnumerationWorker().Start(window, temp.Path(), {u"Other"}, {u"Other"})) << "nor beside it";

  release.Open();
  EXPECT_TRUE(scantest::Eventually([&] { return worker.Stop(); }));
  EXPECT_FALSE(worker.Held());
  EXPECT_EQ(0u, window->Pending()) << "the stopped worker handed nothing over";
  ASSERT_TRUE(Start({u"Other"}, {u"Other"}));
  EXPECT_EQ(u"2", NextCount().count);
  EXPECT_TRUE(worker.Stop());
}

TEST_F(CountingWorker, AGroupFolderRemovedWhileCountedCountsZero) {
  scantest::WriteGroup(Root(), "Vanishing", "Vanishing", 4);
  hook.folder = u"Vanishing";
  hook.beforeListing = [&] { fs::remove_all(Root() / "Vanishing"); };
  ASSERT_TRUE(Start({u"Vanishing"}, {u"Vanishing"}));
  const es::ResultSlot result = NextCount();
  EXPECT_EQ((std::vector<Str>{u"Vanishing", u"0"}), (std::vector<Str>{result.folderName, result.count}));
  EXPECT_TRUE(worker.Stop());
}

TEST_F(CountingWorker, ACountOfAStoppedWorkerStillQueuedLosesNoCountOfTheNext) {
  for (int i = 0; i < 6; ++i) scantest::WriteGroup(Root(), "G" + std::to_string(i), "Group", i);
  const es::StrArray folders{u"G0", u"G1", u"G2", u"G3", u"G4", u"G5"}, names(folders.size(), u"Group");
  ASSERT_TRUE(Start(folders, names));
  // The first count is posted, then the list is reloaded before the dialog takes it: its
  // message is still queued when the next worker starts.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ASSERT_EQ(1u, window->Pending());
  ASSERT_TRUE(Start(folders, names));
  std::map<Str, Str> counts;
  es::ResultSlot result;
  while (window->Next(1000) == es::WM_GROUP_COUNTED) {
    if (!worker.TakeResult(&result)) continue;
    EXPECT_EQ(0u, counts.count(result.folderName)) << "counted twice: " << es::ToUtf8(result.folderName);
    counts[result.folderName] = result.count;
  }
  EXPECT_EQ((std::map<Str, Str>{{u"G0", u"0"}, {u"G1", u"1"}, {u"G2", u"2"}, {u"G3", u"3"}, {u"G4", u"4"}, {u"G5", u"5"}}),
            counts);
  EXPECT_TRUE(worker.Stop());
}

}  // namespace
