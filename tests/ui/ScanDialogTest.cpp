// The scan selection dialog and its counting worker: counts, the one-at-a-time hand-over,
// stopping the worker (also in the middle of a large group, or when it cannot be stopped),
// the rows the dialog lists, what Scan hands over, and the element's interactive scan.
#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "Tessard.h"
#include "platform/FaultInjection.h"
#include "resources/ResourceIds.h"
#include "storage/Layout.h"
#include "tests/import/ImportFixture.h"
#include "tests/support/Capture.h"
#include "tests/ui/DialogTestSupport.h"
#include "ui/DlgScan.h"
#include "ui/EnumerationWorker.h"

namespace {

using es::HeadlessView;
using es::Str;
using es::platform::kPathSep;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr int kList = IDC_GROUP_LIST;
constexpr int kCombo = IDC_STORAGE_COMBO;

long long MillisSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}
// Whether `done` holds within `timeoutMs`, tried every millisecond.
bool Within(int timeoutMs, const std::function<bool()>& done) {
  for (const auto start = Clock::now(); MillisSince(start) < timeoutMs; std::this_thread::sleep_for(std::chrono::milliseconds(1)))
    if (done()) return true;
  return done();
}

// A flag any thread can open and others wait for.
struct Latch {
  std::atomic<bool> open{false};
  void Open() { open = true; }
  bool Wait(int timeoutMs) { return Within(timeoutMs, [this] { return open.load(); }); }
};

// The real file system, with a hook around the listing of the folders whose pattern
// contains `folder` (a group folder name). Hooks run on the worker's thread.
class HookPlatform : public es::platform::FaultyPlatform {
 public:
  Str folder;
  std::function<void()> beforeListing;         // before the folder is listed
  std::function<void(int entry)> beforeEntry;  // before entry n (from 1) is handed over

  es::platform::FolderHandle OpenFolder(const Str& path, bool followLink, es::platform::Error* error) override {
    const bool hooked = !folder.empty() && path.find(folder) != Str::npos;
    if (hooked && beforeListing) beforeListing();
    const es::platform::FolderHandle handle = FaultyPlatform::OpenFolder(path, followLink, error);
    if (hooked) hooked_ = handle;
    return handle;
  }
  bool ListFolder(es::platform::FolderHandle handle, const std::function<bool(const es::platform::FolderEntry&)>& visit,
                  es::platform::Error* error) override {
    if (handle != hooked_ || hooked_ == es::platform::kInvalidFolder) return FaultyPlatform::ListFolder(handle, visit, error);
    int entry = 0;
    return FaultyPlatform::ListFolder(
        handle, [&](const es::platform::FolderEntry& e) { return (beforeEntry ? beforeEntry(++entry) : void()), visit(e); },
        error);
  }

 private:
  std::atomic<es::platform::FolderHandle> hooked_{es::platform::kInvalidFolder};
};

// The messages posted to a dialog, received by the test.
class Receiver final : public es::IMessagePoster {
 public:
  bool Post(std::uint32_t message, std::uintptr_t, std::intptr_t) override {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.push_back(message);
    return true;
  }
  // The next message, or 0 when none came within `timeoutMs`.
  std::uint32_t Next(int timeoutMs) {
    std::uint32_t m = 0;
    Within(timeoutMs, [&] {
      std::lock_guard<std::mutex> lock(mutex_);
      if (messages_.empty()) return false;
      m = messages_.front();
      messages_.pop_front();
      return true;
    });
    return m;
  }
  std::size_t Pending() {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_.size();
  }

 private:
  std::mutex mutex_;
  std::deque<std::uint32_t> messages_;
};

// The hooked file system and a folder for storages, as a base of the fixtures: the worker
// or dialog of the fixture goes first, then a blocked worker is released, then the hook.
class Hooked : public ::testing::Test {
 protected:
  // A dialog that stopped its worker earlier in this process leaves the stop flag set;
  // only a start clears it, and the worker tests also count without starting.
  Hooked() { es::StopRequested().store(0); }
  ~Hooked() override {
    release.Open();
    es::StopRequested().store(0);
  }
  // A group folder with `documents` empty document folders, its lock file holding `name`
  // (no lock file when `name` is null) and, when `order` is given, an order file.
  static void WriteGroup(const fs::path& storage, const std::string& folder, const char* name, int documents,
                         std::optional<std::vector<std::string>> order = std::nullopt) {
    esproduce::GroupPlan group{folder, std::nullopt, std::move(order), std::nullopt, {}};
    if (name != nullptr) group.lockText = std::string(name) + "\r\n";
    for (int i = 0; i < documents; ++i) group.documents.push_back(estest::DocumentWith("Doc" + std::to_string(100000 + i).substr(1), {}));
    std::string error;
    ASSERT_TRUE(esproduce::WriteGroup(storage, group, &error)) << error;
  }
  // A listing of `folder` that blocks, deaf to the stop flag, until `release` opens.
  void Stuck(const Str& folder) {
    hook.folder = folder;
    hook.beforeListing = [this] { listing.Open(), release.Wait(30000); };
  }

  HookPlatform hook;
  es::platform::ScopedPlatform installed{hook};
  Latch listing, release;
  estest::TempFolder temp;
};

class CountingWorker : public Hooked {
 protected:
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

  std::shared_ptr<Receiver> window = std::make_shared<Receiver>();
  es::CEnumerationWorker worker;
};

// Only document folders count (not G1's file nor G2's order file); G3, removed while it
// is counted, counts zero.
TEST_F(CountingWorker, CountsAndHandsTheCountsOverOneAtATimeInListOrder) {
  WriteGroup(Root(), "G1", "Same", 2);
  temp.Write("G1/notes.txt", "a file, not a document");
  WriteGroup(Root(), "G2", "Same", 5, std::vector<std::string>{"Doc00002", "Doc00000"});
  WriteGroup(Root(), "G3", "Third", 4);
  hook.folder = u"G3";
  hook.beforeListing = [&] { fs::remove_all(Root() / "G3"); };
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
  es::StopRequested().store(1);
  EXPECT_EQ(u"", es::CountDocuments(es::layout::ListingPattern(temp.Path(u"G2")))) << "a stop request ends the count with no text";

  ASSERT_TRUE(Start({}, {}));  // without groups it ends at once
  EXPECT_TRUE(worker.Stop());
  EXPECT_FALSE(worker.Held());
  EXPECT_EQ(0u, window->Pending());
}

TEST_F(CountingWorker, StoppingDuringALargeGroupEndsWithinOneDirectoryEntry) {
  WriteGroup(Root(), "LargeGroup", "Large", 1000);
  std::atomic<int> afterStop{0};  // entries handed over after the stop request
  hook.folder = u"LargeGroup";
  hook.beforeEntry = [&](int entry) {
    if (es::StopRequested().load() == 1) ++afterStop;
    if (entry == 20) listing.Open();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  ASSERT_TRUE(Start({u"LargeGroup"}, {u"Large"}));
  ASSERT_TRUE(listing.Wait(5000));
  EXPECT_TRUE(worker.Stop()) << "ended within the bound";
  EXPECT_LE(afterStop.load(), 1) << "the worker ends within one directory entry";
  EXPECT_EQ(0u, window->Pending()) << "a stopped count is not handed over";
}

// The worker's thread is registered with the logging layer while it runs, also while stuck.
TEST_F(CountingWorker, AWorkerThatCannotBeStoppedBlocksEveryFurtherStart) {
  WriteGroup(Root(), "StuckGroup", "Stuck", 1);
  WriteGroup(Root(), "Other", "Other", 2);
  Stuck(u"StuckGroup");
  const int threads = TessardRegisteredThreads();
  ASSERT_TRUE(Start({u"StuckGroup", u"Other"}, {u"Stuck", u"Other"}));
  ASSERT_TRUE(listing.Wait(5000));
  EXPECT_EQ(threads + 1, TessardRegisteredThreads());

  auto start = Clock::now();
  EXPECT_FALSE(worker.Stop());
  EXPECT_GE(MillisSince(start), es::kWorkerStopTimeoutMs - 100);
  EXPECT_TRUE(worker.Held());
  start = Clock::now();
  EXPECT_FALSE(Start({u"Other"}, {u"Other"}));
  EXPECT_LT(MillisSince(start), es::kWorkerStopTimeoutMs) << "the full time is waited once per worker";
  EXPECT_FALSE(es::CEnumerationWorker().Start(window, temp.Path(), {u"Other"}, {u"Other"})) << "nor beside it";

  release.Open();
  EXPECT_TRUE(Within(10000, [&] { return worker.Stop(); }));
  EXPECT_FALSE(worker.Held());
  EXPECT_EQ(threads, TessardRegisteredThreads());
  EXPECT_EQ(0u, window->Pending()) << "the stopped worker handed nothing over";
  ASSERT_TRUE(Start({u"Other"}, {u"Other"}));
  EXPECT_EQ(u"2", NextCount().count);
  EXPECT_TRUE(worker.Stop());
}

TEST_F(CountingWorker, ACountOfAStoppedWorkerStillQueuedLosesNoCountOfTheNext) {
  for (int i = 0; i < 6; ++i) WriteGroup(Root(), "G" + std::to_string(i), "Group", i);
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

// The rows as "name count folder", one after the other.
std::string Rows(const es::IDialogView& v) {
  std::string rows;
  for (int r = 0; r < v.ItemCount(kList); ++r) {
    const auto* folder = reinterpret_cast<const char16_t*>(v.ItemData(kList, r));
    rows += (rows.empty() ? "" : ", ") + es::ToUtf8(v.ItemText(kList, r, 0) + u" " + v.ItemText(kList, r, 1) + u" ") +
            es::ToUtf8(folder != nullptr ? folder : u"");
  }
  return rows;
}

// Dispatches the worker's counts until no row shows "?" any more.
bool WaitForCounts(HeadlessView& v) {
  return v.Pump(10000, [&] { return Rows(v).find(" ? ") == std::string::npos; });
}

class ScanDialog : public Hooked {
 protected:
  ScanDialog() : dialog(nullptr) {}

  struct Group {
    std::string folder;
    const char* name;  // null: no lock file, not available
    int documents;
  };
  // The storage `name` holding `groups`, registered under `label`.
  fs::path Storage(const std::string& name, const std::vector<Group>& groups, const Str& label = Str()) {
    const fs::path dir = temp.Root() / name;
    fs::create_directories(dir);
    for (const Group& g : groups) WriteGroup(dir, g.folder, g.name, g.documents);
    dialog.registeredDirectories.push_back(dir.u16string());
    dialog.storageNames.push_back(label);
    return dir;
  }
  // The same, shown when the dialog opens; with an order file naming `order`.
  fs::path Shown(const std::vector<Group>& groups, const std::string& order = "") {
    if (!order.empty()) temp.Write("store/Doc_Order.txt", order);
    return fs::path(dialog.preselectedDirectory = Storage("store", groups).u16string());
  }
  int Run(std::function<void(HeadlessView&)> actions) {
    desk.AddScript(IDD_SCAN, std::move(actions));
    return dialog.DoModal();
  }

  es::ModuleStateScope strings;  // the module's texts
  es::HeadlessDesk desk;
  estest::MessageCapture help;
  es::CDlgScan dialog;
};

// Without groups the list is empty and Scan does nothing; help shows the dialog's topic.
TEST_F(ScanDialog, OffersEveryStorageAndTellsUnnamedOnesApartByTheirItemData) {
  Storage("named", {}, u"Alpha");
  Storage("first", {{"F1", "In first", 1}});
  const fs::path second = Storage("second", {{"S1", "In second", 2}, {"unlocked", nullptr, 3}});
  dialog.registeredDirectories.push_back((temp.Root() / "missing").u16string());
  dialog.storageNames.push_back(u"");
  std::vector<std::string> entries;  // label=item data
  EXPECT_EQ(es::kIdCancel, Run([&](HeadlessView& v) {
              for (int e = 0; e < v.ComboCount(kCombo); ++e)
                entries.push_back(es::ToUtf8(v.ComboText(kCombo, e)) + "=" + std::to_string(v.ComboData(kCombo, e)));
              EXPECT_EQ(-1, v.CurSel(kCombo)) << "no storage preselected";
              EXPECT_EQ("", Rows(v));
              EXPECT_FALSE(v.Click(IDC_SCAN)) << "Scan stays disabled";
              dialog.OnScan();  // even when it is reached, nothing is selected
              EXPECT_TRUE(v.Running());
              v.ChooseComboItem(kCombo, 2);  // "missing" (the entries' order is checked below)
              EXPECT_EQ("", Rows(v));
              v.ChooseComboItem(kCombo, 1);  // "second"
              WaitForCounts(v);
              EXPECT_EQ("In second 2 S1", Rows(v));
              v.Click(IDC_HELP_BUTTON);
              v.PressF1();
            }));
  EXPECT_EQ((std::vector<std::string>{" (no name)=1", " (no name)=2", " (no name)=3", "Alpha=0"}), entries);
  EXPECT_EQ(second.u16string(), dialog.currentStorageDirectory);
  EXPECT_TRUE(dialog.selectedGroupPaths.empty() && dialog.selectedGroupNames.empty());
  ASSERT_EQ(2u, help.boxes.size());
  for (const auto& box : help.boxes) EXPECT_EQ("ShowContextHelp 145153", box.op + " " + std::to_string(box.id));
}

// Groups of equal names get their own counts, in the order found (a sorted list places a
// row after the rows equal to it); Refresh shows a group that gained its lock file.
TEST_F(ScanDialog, ListsTheGroupsByNameWhileCollectGroupsKeepsTheOrderFile) {
  const fs::path dir = Shown({{"f1", "Charlie", 1}, {"f2", "alpha", 2}, {"f3", "Bravo", 3}, {"f4", nullptr, 4}, {"f5", "Bravo", 5}},
                             "f3\r\nf1\r\nf2\r\nf5\r\n");
  Run([&](HeadlessView& v) {
    EXPECT_EQ(0, v.CurSel(kCombo));
    EXPECT_FALSE(v.IsControlEnabled(IDC_SCAN)) << "nothing selected yet";
    ASSERT_TRUE(WaitForCounts(v));
    EXPECT_EQ("alpha 2 f2, Bravo 3 f3, Bravo 5 f5, Charlie 1 f1", Rows(v));
    temp.Write("store/f4/GR_LOCK.TXT", "Delta\r\n");
    v.Click(IDC_REFRESH);
    ASSERT_TRUE(WaitForCounts(v));
    EXPECT_EQ("alpha 2 f2, Bravo 3 f3, Bravo 5 f5, Charlie 1 f1, Delta 4 f4", Rows(v));
  });
  es::CDlgScan unattended(nullptr);
  unattended.CollectGroups(dir.u16string());
  EXPECT_EQ((std::vector<Str>{u"Bravo", u"Charlie", u"alpha", u"Bravo", u"Delta"}), unattended.selectedGroupNames);
  EXPECT_EQ((dir / "f3").u16string(), unattended.selectedGroupPaths[0]);
}

TEST_F(ScanDialog, ScanAndDoubleClickHandOverTheSelectedRowsInDisplayOrder) {
  const char* names[] = {"Fox", "Bear", "Eel", "Ant", "Cat", "Dog"};
  std::vector<Group> groups;
  for (int i = 0; i < 6; ++i) groups.push_back({"folder" + std::to_string(i), names[i], 1});
  const fs::path dir = Storage("store", groups, u"Store");
  // Registered through an environment reference and with a trailing separator.
  uitest::SetVariable("ES_SCAN_TEST_ROOT", es::ToUtf8(temp.Path()));
  dialog.registeredDirectories.back() = dialog.preselectedDirectory = Str(u"%ES_SCAN_TEST_ROOT%") + kPathSep + u"store" + kPathSep;
  EXPECT_EQ(es::kIdOk, Run([&](HeadlessView& v) {
              ASSERT_EQ(6, v.ItemCount(kList));
              v.ClickRow(kList, 4);
              v.ClickRow(kList, 1, true);
              EXPECT_TRUE(v.IsControlEnabled(IDC_SCAN));
              v.Click(IDC_SCAN);
            }));
  EXPECT_EQ((std::vector<Str>{u"Bear", u"Eel"}), dialog.selectedGroupNames);
  const Str expanded = dir.u16string() + kPathSep;
  EXPECT_EQ((std::vector<Str>{expanded + u"folder1", expanded + u"folder2"}), dialog.selectedGroupPaths);

  EXPECT_EQ(es::kIdOk, Run([](HeadlessView& v) {
              v.ClickRow(kList, 0);
              v.ClickRow(kList, 2, true);
              v.DoubleClickRow(kList, 1);  // a plain double click selects its row alone
            }));
  EXPECT_EQ((std::vector<Str>{u"Bear"}), dialog.selectedGroupNames);
  EXPECT_EQ((std::vector<Str>{expanded + u"folder1"}), dialog.selectedGroupPaths);
}

// The reload lists the rows though no second worker can count them.
TEST_F(ScanDialog, AWorkerThatCannotBeStoppedLeavesQuestionMarks) {
  Shown({{"StuckGroup", "Stuck", 1}, {"Other", "Other", 2}}, "StuckGroup\r\n");
  Stuck(u"StuckGroup");
  Run([&](HeadlessView& v) {
    ASSERT_TRUE(listing.Wait(5000));
    v.Click(IDC_REFRESH);
    v.Pump(300, nullptr);
    EXPECT_EQ("Other ? Other, Stuck ? StuckGroup", Rows(v));
    release.Open();
    EXPECT_TRUE(Within(10000, [&] { return dialog.StopWorker(); }));
  });
}

TEST_F(ScanDialog, ClosingOrReloadingWhileCountingIsSafe) {
  std::vector<Group> groups;
  for (int i = 0; i < 20; ++i) groups.push_back({"g" + std::to_string(i), "Group", 20});
  Shown(groups);
  // Closed at once, while the worker is counting: the rows go only after it has stopped.
  for (int run = 0; run < 5; ++run) EXPECT_EQ(es::kIdCancel, dialog.DoModal());
  // Reloaded again and again, with counts of the earlier rows possibly still queued.
  Run([&](HeadlessView& v) {
    for (int i = 0; i < 10; ++i) {
      v.Pump(i, nullptr);
      v.Click(IDC_REFRESH);
    }
    ASSERT_TRUE(WaitForCounts(v));
    ASSERT_EQ(20, v.ItemCount(kList));
    for (int r = 0; r < 20; ++r) EXPECT_EQ(u"20", v.ItemText(kList, r, 1)) << r;
  });
}

// The element's Scan, interactive: the host is not unattended, so the dialog chooses.
TEST(InteractiveScan, ImportsTheGroupsChosenInTheDialogAndNothingWhenCancelled) {
  es::HeadlessDesk desk;
  estest::MessageCapture boxes;
  estest::TraceCapture trace;
  estest::TempStorage storage;
  storage.Write({estest::MakeGroup("GroupA", {estest::NamedDocument("GroupA-doc", 1)}),
                 estest::MakeGroup("GroupB", {estest::NamedDocument("GroupB-doc", 1)})});
  estest::ElementHolder holder{false, false};
  holder.element->directories = {storage.Dir()};
  holder.element->RebuildStorageNames();
  holder.element->SelectedPath = storage.Dir();
  for (int choose : {es::kIdCancel, IDC_SCAN}) {
    estest::RecordingCallback callback;  // accepts every page: the accepted ones are all delivered
    callback.unattended = false;
    desk.AddScript(IDD_SCAN, [choose](HeadlessView& v) {
      ASSERT_EQ(2, v.ItemCount(kList));
      v.ClickRow(kList, 1);
      v.Click(choose);
    });
    EXPECT_EQ(1, holder.element->Scan(nullptr, 0, &callback));
    EXPECT_EQ(choose == IDC_SCAN ? std::vector<std::u16string>{u"GroupB-doc/p1"} : std::vector<std::u16string>{},
              callback.AcceptedIds());
    EXPECT_TRUE(fs::exists(storage.root / "GroupA" / "GroupA-doc"));
  }
  EXPECT_EQ((std::vector<int>{IDD_SCAN, IDD_SCAN}), desk.runs);
}

}  // namespace
