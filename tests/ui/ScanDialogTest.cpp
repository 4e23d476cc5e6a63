// The scan selection dialog on the headless view: the storages it offers, the rows it
// lists and their counts, what Scan hands over, reloading while the worker counts, and the
// element's interactive scan that runs it.
#include <algorithm>
#include <filesystem>
#include <set>
#include <thread>

#include "resources/ResourceIds.h"
#include "storage/Layout.h"
#include "tests/import/ImportFixture.h"
#include "tests/support/Capture.h"
#include "tests/ui/DialogTestSupport.h"
#include "tests/ui/ScanTestSupport.h"
#include "ui/DlgScan.h"

namespace {

using es::HeadlessDesk;
using es::HeadlessView;
using es::Str;
using es::platform::kPathSep;
using scantest::Clock;
using scantest::MillisSince;
namespace fs = std::filesystem;

::testing::Environment* const kAttach = ::testing::AddGlobalTestEnvironment(new uitest::AttachEnvironment);

constexpr int kList = IDC_GROUP_LIST;
constexpr int kCombo = IDC_STORAGE_COMBO;

struct Row {
  Str name;
  Str count;
  Str folder;
  bool operator==(const Row&) const = default;
};

std::vector<Row> Rows(const es::IDialogView& v) {
  std::vector<Row> rows;
  for (int r = 0; r < v.ItemCount(kList); ++r) {
    const auto* folder = reinterpret_cast<const char16_t*>(v.ItemData(kList, r));
    rows.push_back(Row{v.ItemText(kList, r, 0), v.ItemText(kList, r, 1), folder != nullptr ? folder : u""});
  }
  return rows;
}

// Dispatches the worker's counts until no row shows "?" any more.
bool WaitForCounts(HeadlessView& v, int timeoutMs = 10000) {
  return v.Pump(timeoutMs, [&] {
    for (int r = 0; r < v.ItemCount(kList); ++r)
      if (v.ItemText(kList, r, 1) == u"?") return false;
    return true;
  });
}

int ComboEntryOf(const es::IDialogView& v, std::intptr_t index) {
  for (int e = 0; e < v.ComboCount(kCombo); ++e)
    if (v.ComboData(kCombo, e) == index) return e;
  return -1;
}

class ScanDialog : public ::testing::Test {
 protected:
  ScanDialog() : dialog(nullptr) {}
  ~ScanDialog() override { es::StopRequested().store(0); }

  // A storage directory below the temporary folder.
  fs::path Storage(const std::string& name) {
    const fs::path dir = storages.Root() / name;
    fs::create_directories(dir);
    return dir;
  }
  static Str Dir(const fs::path& path) { return path.u16string(); }
  void Register(const Str& directory, const Str& name = Str()) {
    dialog.registeredDirectories.push_back(directory);
    dialog.storageNames.push_back(name);
  }
  int Run(std::function<void(HeadlessView&)> actions) {
    desk.AddScript(IDD_SCAN, std::move(actions));
    return dialog.DoModal();
  }

  es::ModuleStateScope strings;  // the module's texts
  HeadlessDesk desk;
  estest::MessageCapture help;
  es::platform::testing::TempFolder storages;
  es::CDlgScan dialog;
};

TEST_F(ScanDialog, OffersEveryStorageAndTellsTwoUnnamedOnesApartByTheirItemData) {
  const fs::path named = Storage("named"), first = Storage("first"), second = Storage("second");
  scantest::WriteGroup(first, "F1", "In first", 1);
  scantest::WriteGroup(second, "S1", "In second", 2);
  Register(Dir(named), u"Alpha");
  Register(Dir(first));
  Register(Dir(second));

  std::vector<Str> labels;
  std::vector<std::intptr_t> data;
  int selectedAtStart = 0;
  std::vector<Row> rowsAtStart, rowsOfSecond;
  Run([&](HeadlessView& v) {
    for (int e = 0; e < v.ComboCount(kCombo); ++e) {
      labels.push_back(v.ComboText(kCombo, e));
      data.push_back(v.ComboData(kCombo, e));
    }
    selectedAtStart = v.CurSel(kCombo);
    rowsAtStart = Rows(v);
    v.ChooseComboItem(kCombo, ComboEntryOf(v, 2));
    WaitForCounts(v);
    rowsOfSecond = Rows(v);
  });
  EXPECT_EQ((std::vector<Str>{u" (no name)", u" (no name)", u"Alpha"}), labels);
  EXPECT_EQ((std::vector<std::intptr_t>{1, 2, 0}), data);
  EXPECT_EQ(-1, selectedAtStart) << "no storage preselected";
  EXPECT_TRUE(rowsAtStart.empty());
  EXPECT_EQ((std::vector<Row>{{u"In second", u"2", u"S1"}}), rowsOfSecond);
  EXPECT_EQ(Dir(second), dialog.currentStorageDirectory);
}

TEST_F(ScanDialog, ListsTheGroupsByNameWhileCollectGroupsKeepsTheOrderFile) {
  const fs::path dir = Storage("store");
  scantest::WriteGroup(dir, "f1", "Charlie", 1);
  scantest::WriteGroup(dir, "f2", "alpha", 2);
  scantest::WriteGroup(dir, "f3", "Bravo", 3);
  scantest::WriteGroup(dir, "f4", nullptr, 4);  // no lock file: not available
  storages.Write("store/Doc_Order.txt", "f3\r\nf1\r\nf2\r\n");
  Register(Dir(dir), u"Store");
  dialog.preselectedDirectory = Dir(dir);

  std::vector<Row> rows;
  int shownEntry = -1;
  std::vector<Str> titles;
  std::vector<int> widths;
  int outerWidth = 0;
  std::uint32_t style = 0;
  bool scanEnabled = true;
  Run([&](HeadlessView& v) {
    shownEntry = v.CurSel(kCombo);
    scanEnabled = v.IsControlEnabled(IDC_SCAN);
    ASSERT_TRUE(WaitForCounts(v));
    rows = Rows(v);
    titles = {v.ColumnText(kList, 0), v.ColumnText(kList, 1)};
    widths = {v.ColumnWidth(kList, 0), v.ColumnWidth(kList, 1)};
    outerWidth = v.ListOuterWidth(kList);
    style = v.ListExtendedStyle(kList);
  });
  EXPECT_EQ(0, shownEntry);
  EXPECT_FALSE(scanEnabled) << "nothing selected yet";
  EXPECT_EQ((std::vector<Row>{{u"alpha", u"2", u"f2"}, {u"Bravo", u"3", u"f3"}, {u"Charlie", u"1", u"f1"}}), rows);
  EXPECT_EQ((std::vector<Str>{u"Group name", u"Number of documents"}), titles);
  EXPECT_EQ((std::vector<int>{outerWidth * 1000 / 1428, outerWidth * 1000 / 3333}), widths);
  EXPECT_EQ(es::kLvsExFullRowSelect, style & es::kLvsExFullRowSelect);

  es::CDlgScan unattended(nullptr);
  unattended.CollectGroups(Dir(dir));
  EXPECT_EQ((std::vector<Str>{u"Bravo", u"Charlie", u"alpha"}), unattended.selectedGroupNames);
  EXPECT_EQ(Dir(dir / "f3"), unattended.selectedGroupPaths[0]);
}

TEST_F(ScanDialog, CountsDocumentFoldersOnlyAndGivesGroupsOfEqualNamesTheirOwnCounts) {
  const fs::path dir = Storage("store");
  scantest::WriteGroup(dir, "g1", "Same", 3, std::vector<std::string>{"Doc00001", "Doc00000", "Doc00002"});
  scantest::WriteGroup(dir, "g2", "Same", 5);
  scantest::WriteGroup(dir, "g3", "Same", 0);
  storages.Write("store/g1/notes.txt", "a file, not a document");
  Register(Dir(dir));
  dialog.preselectedDirectory = Dir(dir);
  std::vector<Row> rows;
  Run([&](HeadlessView& v) {
    ASSERT_TRUE(WaitForCounts(v));
    rows = Rows(v);
  });
  std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.folder < b.folder; });
  EXPECT_EQ((std::vector<Row>{{u"Same", u"3", u"g1"}, {u"Same", u"5", u"g2"}, {u"Same", u"0", u"g3"}}), rows);
}

TEST_F(ScanDialog, ScanHandsOverTheSelectedRowsInDisplayOrderWithOneSeparator) {
  const fs::path dir = Storage("store");
  const char* names[] = {"Fox", "Bear", "Eel", "Ant", "Cat", "Dog"};
  for (int i = 0; i < 6; ++i) scantest::WriteGroup(dir, "folder" + std::to_string(i), names[i], 1);
  // Registered through an environment reference and with a trailing separator.
  uitest::SetVariable("ES_SCAN_TEST_ROOT", uitest::U8(storages.Path()));
  const Str registered = Str(u"%ES_SCAN_TEST_ROOT%") + kPathSep + u"store" + kPathSep;
  Register(registered, u"Store");
  dialog.preselectedDirectory = registered;

  bool enabledAfterSelection = false;
  const int result = Run([&](HeadlessView& v) {
    ASSERT_EQ(6, v.ItemCount(kList));
    v.ClickRow(kList, 4);
    v.ClickRow(kList, 1, true);
    enabledAfterSelection = v.IsControlEnabled(IDC_SCAN);
    v.Click(IDC_SCAN);
  });
  EXPECT_TRUE(enabledAfterSelection);
  EXPECT_EQ(es::kIdOk, result);
  EXPECT_EQ((std::vector<Str>{u"Bear", u"Eel"}), dialog.selectedGroupNames);
  const Str expanded = Dir(dir) + kPathSep;
  EXPECT_EQ((std::vector<Str>{expanded + u"folder1", expanded + u"folder2"}), dialog.selectedGroupPaths);
}

TEST_F(ScanDialog, DoubleClickScansTheRowsSelectedAtThatMoment) {
  const fs::path dir = Storage("store");
  for (const char* name : {"A", "B", "C"}) scantest::WriteGroup(dir, std::string("f") + name, name, 1);
  Register(Dir(dir));
  dialog.preselectedDirectory = Dir(dir);
  const int result = Run([&](HeadlessView& v) {
    v.ClickRow(kList, 0);
    v.ClickRow(kList, 2, true);
    v.DoubleClickRow(kList, 1);  // a plain double click selects its row alone
  });
  EXPECT_EQ(es::kIdOk, result);
  EXPECT_EQ((std::vector<Str>{u"B"}), dialog.selectedGroupNames);
  EXPECT_EQ((std::vector<Str>{es::JoinPath(Dir(dir), u"fB")}), dialog.selectedGroupPaths);
}

TEST_F(ScanDialog, RefreshShowsAGroupThatGainedItsLockFile) {
  const fs::path dir = Storage("store");
  scantest::WriteGroup(dir, "old", "Old", 1);
  scantest::WriteGroup(dir, "new", nullptr, 2);
  Register(Dir(dir));
  dialog.preselectedDirectory = Dir(dir);
  std::vector<Row> before, after;
  Run([&](HeadlessView& v) {
    ASSERT_TRUE(WaitForCounts(v));
    before = Rows(v);
    storages.Write("store/new/GR_LOCK.TXT", "New\r\n");
    v.Click(IDC_REFRESH);
    ASSERT_TRUE(WaitForCounts(v));
    after = Rows(v);
  });
  EXPECT_EQ((std::vector<Row>{{u"Old", u"1", u"old"}}), before);
  EXPECT_EQ((std::vector<Row>{{u"New", u"2", u"new"}, {u"Old", u"1", u"old"}}), after);
}

TEST_F(ScanDialog, WithoutGroupsTheListIsEmptyAndScanDoesNothing) {
  const fs::path empty = Storage("empty");
  scantest::WriteGroup(empty, "unlocked", nullptr, 3);
  Register(Dir(empty));
  Register(Dir(storages.Root() / "missing"));
  dialog.preselectedDirectory = Dir(empty);
  std::vector<Row> rowsOfEmpty, rowsOfMissing;
  bool clicked = true, stillOpen = false;
  const int result = Run([&](HeadlessView& v) {
    rowsOfEmpty = Rows(v);
    clicked = v.Click(IDC_SCAN);
    dialog.OnScan();  // even when it is reached, nothing is selected
    stillOpen = v.Running();
    v.ChooseComboItem(kCombo, ComboEntryOf(v, 1));
    rowsOfMissing = Rows(v);
  });
  EXPECT_TRUE(rowsOfEmpty.empty());
  EXPECT_TRUE(rowsOfMissing.empty());
  EXPECT_FALSE(clicked) << "Scan stays disabled";
  EXPECT_TRUE(stillOpen);
  EXPECT_EQ(es::kIdCancel, result);
  EXPECT_TRUE(dialog.selectedGroupPaths.empty());
  EXPECT_TRUE(dialog.selectedGroupNames.empty());
}

TEST_F(ScanDialog, HelpButtonAndF1ShowTheDialogsTopic) {
  Register(Dir(Storage("store")));
  Run([&](HeadlessView& v) {
    v.Click(IDC_HELP_BUTTON);
    v.PressF1();
  });
  ASSERT_EQ(2u, help.boxes.size());
  for (const auto& box : help.boxes) {
    EXPECT_EQ("ShowContextHelp", box.op);
    EXPECT_EQ(145153u, box.id);
  }
}

TEST_F(ScanDialog, CancelWhileALargeGroupIsCountedClosesAtOnce) {
  const fs::path dir = Storage("store");
  scantest::WriteGroup(dir, "LargeGroup", "Large", 1000);
  scantest::WriteGroup(dir, "Small", "Small", 1);
  storages.Write("store/Doc_Order.txt", "LargeGroup\r\n");
  scantest::HookPlatform hook;
  scantest::Latch counting;
  std::atomic<int> afterStop{0};
  hook.folder = u"LargeGroup";
  hook.beforeEntry = [&](int entry) {
    if (es::StopRequested().load() == 1) ++afterStop;
    if (entry == 20) counting.Open();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  es::platform::ScopedPlatform installed(hook);
  Register(Dir(dir));
  dialog.preselectedDirectory = Dir(dir);
  std::vector<Row> rows;
  Run([&](HeadlessView& v) {
    ASSERT_TRUE(counting.Wait(5000));
    rows = Rows(v);
    v.Click(es::kIdCancel);
  });
  EXPECT_LE(afterStop.load(), 1) << "the worker ends within one directory entry";
  EXPECT_EQ((std::vector<Row>{{u"Large", u"?", u"LargeGroup"}, {u"Small", u"?", u"Small"}}), rows);
}

TEST_F(ScanDialog, AWorkerThatCannotBeStoppedLeavesQuestionMarksAndNoSecondWorker) {
  const fs::path dir = Storage("store");
  scantest::WriteGroup(dir, "StuckGroup", "Stuck", 1);
  scantest::WriteGroup(dir, "Other", "Other", 2);
  storages.Write("store/Doc_Order.txt", "StuckGroup\r\n");
  scantest::HookPlatform hook;
  scantest::Latch listing, release;
  scantest::OpenOnExit unblock(release);
  hook.folder = u"StuckGroup";
  hook.beforeListing = [&] {
    listing.Open();
    release.Wait(30000);  // deaf to the stop flag
  };
  es::platform::ScopedPlatform installed(hook);
  Register(Dir(dir));
  dialog.preselectedDirectory = Dir(dir);

  long long refreshMs = 0;
  bool secondStarted = true;
  std::vector<Row> stuck, later;
  Run([&](HeadlessView& v) {
    ASSERT_TRUE(listing.Wait(5000));
    const auto start = Clock::now();
    v.Click(IDC_REFRESH);
    refreshMs = MillisSince(start);
    v.Pump(300, nullptr);
    stuck = Rows(v);
    secondStarted = dialog.StartWorker({u"Other"}, {u"Other"});

    release.Open();
    const auto waited = Clock::now();
    while (!dialog.StopWorker() && MillisSince(waited) < 10000)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    v.Click(IDC_REFRESH);
    ASSERT_TRUE(WaitForCounts(v));
    later = Rows(v);
  });
  EXPECT_GE(refreshMs, es::kWorkerStopTimeoutMs - 100);
  EXPECT_LT(refreshMs, 2 * es::kWorkerStopTimeoutMs) << "the user waits for the worker once";
  EXPECT_EQ((std::vector<Row>{{u"Other", u"?", u"Other"}, {u"Stuck", u"?", u"StuckGroup"}}), stuck);
  EXPECT_FALSE(secondStarted);
  EXPECT_EQ((std::vector<Row>{{u"Other", u"2", u"Other"}, {u"Stuck", u"1", u"StuckGroup"}}), later);
}

TEST_F(ScanDialog, AGroupFolderRemovedWhileCountedCountsZero) {
  const fs::path dir = Storage("store");
  scantest::WriteGroup(dir, "Vanishing", "Vanishing", 4);
  scantest::HookPlatform hook;
  hook.folder = u"Vanishing";
  hook.beforeListing = [&] { fs::remove_all(dir / "Vanishing"); };
  es::platform::ScopedPlatform installed(hook);
  Register(Dir(dir));
  dialog.preselectedDirectory = Dir(dir);
  std::vector<Row> rows;
  Run([&](HeadlessView& v) {
    ASSERT_TRUE(WaitForCounts(v));
    rows = Rows(v);
  });
  EXPECT_EQ((std::vector<Row>{{u"Vanishing", u"0", u"Vanishing"}}), rows);
}

TEST_F(ScanDialog, ClosingOrReloadingWhileCountingIsSafe) {
  const fs::path dir = Storage("store");
  for (int i = 0; i < 20; ++i) scantest::WriteGroup(dir, "g" + std::to_string(i), "Group " + std::to_string(i), 20);
  Register(Dir(dir));
  dialog.preselectedDirectory = Dir(dir);
  // Closed at once, while the worker is counting: the rows go only after it has stopped.
  for (int run = 0; run < 5; ++run) EXPECT_EQ(es::kIdCancel, dialog.DoModal());
  // Reloaded again and again, with counts of the earlier rows possibly still queued.
  std::vector<Row> rows;
  Run([&](HeadlessView& v) {
    for (int i = 0; i < 10; ++i) {
      v.Pump(i, nullptr);
      v.Click(IDC_REFRESH);
    }
    ASSERT_TRUE(WaitForCounts(v));
    rows = Rows(v);
  });
  ASSERT_EQ(20u, rows.size());
  for (const Row& row : rows) EXPECT_EQ(u"20", row.count) << es::ToUtf8(row.name);
}

// The element's Scan, interactive: the host is not unattended, so the dialog chooses.
class InteractiveScan : public ::testing::Test {
 protected:
  InteractiveScan() {
    esproduce::StoragePlan plan;
    for (const std::string group : {"GroupA", "GroupB"}) {
      esproduce::GroupPlan g;
      g.folderName = group;
      g.lockText = group;
      g.documents.push_back(estest::NamedDocument(group + "-doc", 1));
      plan.groups.push_back(std::move(g));
    }
    storage.Write(plan);
    holder.element->directories = {storage.Dir()};
    holder.element->RebuildStorageNames();
    holder.element->SelectedPath = storage.Dir();
    callback.unattended = false;
  }

  HeadlessDesk desk;
  estest::MessageCapture boxes;
  estest::TraceCapture trace;
  estest::TempStorage storage;
  estest::ElementHolder holder{false, false};
  estest::RecordingCallback callback;
};

TEST_F(InteractiveScan, ImportsTheGroupsChosenInTheDialog) {
  desk.AddScript(IDD_SCAN, [](HeadlessView& v) {
    ASSERT_EQ(2, v.ItemCount(kList));
    v.ClickRow(kList, 1);
    v.Click(IDC_SCAN);
  });
  EXPECT_EQ(1, holder.element->Scan(nullptr, 0, &callback));
  EXPECT_EQ((std::vector<int>{IDD_SCAN}), desk.runs);
  EXPECT_EQ((std::vector<std::u16string>{u"GroupB-doc/p1"}), callback.AcceptedIds());
}

TEST_F(InteractiveScan, CancelledImportsNothing) {
  desk.AddScript(IDD_SCAN, [](HeadlessView& v) {
    v.ClickRow(kList, 0);
    v.Click(es::kIdCancel);
  });
  EXPECT_EQ(1, holder.element->Scan(nullptr, 0, &callback));
  EXPECT_TRUE(callback.pages.empty());
  EXPECT_TRUE(fs::exists(storage.root / "GroupA" / "GroupA-doc"));
}

}  // namespace
