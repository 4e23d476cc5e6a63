// The scan selection dialog on the headless view: the storages it offers, the rows it
// lists and their counts, what Scan hands over, reloading while the worker counts, and the
// element's interactive scan that runs it.
#include <algorithm>

#include "resources/ResourceIds.h"
#include "storage/Layout.h"
#include "tests/import/ImportFixture.h"
#include "tests/support/TempFolder.h"
#include "tests/support/Capture.h"
#include "tests/ui/DialogTestSupport.h"
#include "tests/ui/ScanTestSupport.h"
#include "ui/DlgScan.h"

namespace {

using es::HeadlessDesk;
using es::HeadlessView;
using es::Str;
using es::platform::kPathSep;
using Script = std::function<void(HeadlessView&)>;
namespace fs = std::filesystem;

::testing::Environment* const kAttach = ::testing::AddGlobalTestEnvironment(new uitest::AttachEnvironment);

constexpr int kList = IDC_GROUP_LIST;
constexpr int kCombo = IDC_STORAGE_COMBO;

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

int ComboEntryOf(const es::IDialogView& v, std::intptr_t index) {
  for (int e = 0; e < v.ComboCount(kCombo); ++e)
    if (v.ComboData(kCombo, e) == index) return e;
  return -1;
}

class ScanDialog : public ::testing::Test, protected scantest::Hooked {
 protected:
  ScanDialog() : dialog(nullptr) {}
  ~ScanDialog() override { es::StopRequested().store(0); }

  struct Group {
    std::string folder;
    const char* name;  // null: no lock file, not available
    int documents;
  };
  // The storage `name` holding `groups`, registered under `label`.
  fs::path Storage(const std::string& name, const std::vector<Group>& groups, const Str& label = Str()) {
    const fs::path dir = storages.Root() / name;
    fs::create_directories(dir);
    for (const Group& g : groups) scantest::WriteGroup(dir, g.folder, g.name, g.documents);
    dialog.registeredDirectories.push_back(dir.u16string());
    dialog.storageNames.push_back(label);
    return dir;
  }
  // The same, shown when the dialog opens.
  fs::path Shown(const std::vector<Group>& groups) { return fs::path(dialog.preselectedDirectory = Storage("store", groups).u16string()); }
  int Run(Script actions) {
    desk.AddScript(IDD_SCAN, std::move(actions));
    return dialog.DoModal();
  }

  es::ModuleStateScope strings;  // the module's texts
  HeadlessDesk desk;
  estest::MessageCapture help;
  estest::TempFolder storages;
  es::CDlgScan dialog;
};

TEST_F(ScanDialog, OffersEveryStorageAndTellsTwoUnnamedOnesApartByTheirItemData) {
  Storage("named", {}, u"Alpha");
  Storage("first", {{"F1", "In first", 1}});
  const fs::path second = Storage("second", {{"S1", "In second", 2}});
  std::vector<std::string> entries;  // label=item data
  Run([&](HeadlessView& v) {
    for (int e = 0; e < v.ComboCount(kCombo); ++e)
      entries.push_back(uitest::U8(v.ComboText(kCombo, e)) + "=" + std::to_string(v.ComboData(kCombo, e)));
    EXPECT_EQ(-1, v.CurSel(kCombo)) << "no storage preselected";
    EXPECT_EQ("", Rows(v));
    v.ChooseComboItem(kCombo, ComboEntryOf(v, 2));
    WaitForCounts(v);
    EXPECT_EQ("In second 2 S1", Rows(v));
  });
  EXPECT_EQ((std::vector<std::string>{" (no name)=1", " (no name)=2", "Alpha=0"}), entries);
  EXPECT_EQ(second.u16string(), dialog.currentStorageDirectory);
}

TEST_F(ScanDialog, ListsTheGroupsByNameWhileCollectGroupsKeepsTheOrderFile) {
  const fs::path dir = Shown({{"f1", "Charlie", 1}, {"f2", "alpha", 2}, {"f3", "Bravo", 3}, {"f4", nullptr, 4}});
  storages.Write("store/Doc_Order.txt", "f3\r\nf1\r\nf2\r\n");
  Run([&](HeadlessView& v) {
    EXPECT_EQ(0, v.CurSel(kCombo));
    EXPECT_FALSE(v.IsControlEnabled(IDC_SCAN)) << "nothing selected yet";
    ASSERT_TRUE(WaitForCounts(v));
    EXPECT_EQ("alpha 2 f2, Bravo 3 f3, Charlie 1 f1", Rows(v));
    EXPECT_EQ((std::vector<Str>{u"Group name", u"Number of documents"}), (std::vector<Str>{v.ColumnText(kList, 0), v.ColumnText(kList, 1)}));
    const int outer = v.ListOuterWidth(kList);
    EXPECT_EQ((std::vector<int>{outer * 1000 / 1428, outer * 1000 / 3333}), (std::vector<int>{v.ColumnWidth(kList, 0), v.ColumnWidth(kList, 1)}));
    EXPECT_EQ(es::kLvsExFullRowSelect, v.ListExtendedStyle(kList) & es::kLvsExFullRowSelect);
  });
  es::CDlgScan unattended(nullptr);
  unattended.CollectGroups(dir.u16string());
  EXPECT_EQ((std::vector<Str>{u"Bravo", u"Charlie", u"alpha"}), unattended.selectedGroupNames);
  EXPECT_EQ((dir / "f3").u16string(), unattended.selectedGroupPaths[0]);
}

TEST_F(ScanDialog, CountsDocumentFoldersOnlyAndGivesGroupsOfEqualNamesTheirOwnCounts) {
  const fs::path dir = Shown({{"g2", "Same", 5}, {"g3", "Same", 0}});
  scantest::WriteGroup(dir, "g1", "Same", 3, std::vector<std::string>{"Doc00001", "Doc00000", "Doc00002"});
  storages.Write("store/g1/notes.txt", "a file, not a document");
  Run([&](HeadlessView& v) {
    ASSERT_TRUE(WaitForCounts(v));
    for (const char* row : {"Same 3 g1", "Same 5 g2", "Same 0 g3"}) EXPECT_NE(std::string::npos, Rows(v).find(row)) << Rows(v);
  });
}

TEST_F(ScanDialog, ScanAndDoubleClickHandOverTheSelectedRowsInDisplayOrder) {
  const char* names[] = {"Fox", "Bear", "Eel", "Ant", "Cat", "Dog"};
  std::vector<Group> groups;
  for (int i = 0; i < 6; ++i) groups.push_back({"folder" + std::to_string(i), names[i], 1});
  const fs::path dir = Storage("store", groups, u"Store");
  // Registered through an environment reference and with a trailing separator.
  uitest::SetVariable("ES_SCAN_TEST_ROOT", uitest::U8(storages.Path()));
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

TEST_F(ScanDialog, RefreshShowsAGroupThatGainedItsLockFile) {
  Shown({{"old", "Old", 1}, {"new", nullptr, 2}});
  Run([&](HeadlessView& v) {
    ASSERT_TRUE(WaitForCounts(v));
    EXPECT_EQ("Old 1 old", Rows(v));
    storages.Write("store/new/GR_LOCK.TXT", "New\r\n");
    v.Click(IDC_REFRESH);
    ASSERT_TRUE(WaitForCounts(v));
    EXPECT_EQ("New 2 new, Old 1 old", Rows(v));
  });
}

TEST_F(ScanDialog, WithoutGroupsTheListIsEmptyAndScanDoesNothingAndHelpShowsTheTopic) {
  dialog.preselectedDirectory = Storage("empty", {{"unlocked", nullptr, 3}}).u16string();
  dialog.registeredDirectories.push_back((storages.Root() / "missing").u16string());
  dialog.storageNames.push_back(u"");
  EXPECT_EQ(es::kIdCancel, Run([&](HeadlessView& v) {
              EXPECT_EQ("", Rows(v));
              EXPECT_FALSE(v.Click(IDC_SCAN)) << "Scan stays disabled";
              dialog.OnScan();  // even when it is reached, nothing is selected
              EXPECT_TRUE(v.Running());
              v.ChooseComboItem(kCombo, ComboEntryOf(v, 1));
              EXPECT_EQ("", Rows(v));
              v.Click(IDC_HELP_BUTTON);
              v.PressF1();
            }));
  EXPECT_TRUE(dialog.selectedGroupPaths.empty() && dialog.selectedGroupNames.empty());
  ASSERT_EQ(2u, help.boxes.size());
  for (const auto& box : help.boxes) EXPECT_EQ("ShowContextHelp 145153", box.op + " " + std::to_string(box.id));
}

TEST_F(ScanDialog, CancelWhileALargeGroupIsCountedClosesAtOnce) {
  Shown({{"LargeGroup", "Large", 1000}, {"Small", "Small", 1}});
  storages.Write("store/Doc_Order.txt", "LargeGroup\r\n");
  Slow(u"LargeGroup");
  Run([&](HeadlessView& v) {
    ASSERT_TRUE(listing.Wait(5000));
    EXPECT_EQ("Large ? LargeGroup, Small ? Small", Rows(v));
    v.Click(es::kIdCancel);
  });
  EXPECT_LE(afterStop.load(), 1) << "the worker ends within one directory entry";
}

TEST_F(ScanDialog, AWorkerThatCannotBeStoppedLeavesQuestionMarksAndNoSecondWorker) {
  Shown({{"StuckGroup", "Stuck", 1}, {"Other", "Other", 2}});
  storages.Write("store/Doc_Order.txt", "StuckGroup\r\n");
  Stuck(u"StuckGroup");
  long long refreshMs = 0;
  Run([&](HeadlessView& v) {
    ASSERT_TRUE(listing.Wait(5000));
    const auto start = scantest::Clock::now();
    v.Click(IDC_REFRESH);
    refreshMs = scantest::MillisSince(start);
    v.Pump(300, nullptr);
    EXPECT_EQ("Other ? Other, Stuck ? StuckGroup", Rows(v));
    EXPECT_FALSE(dialog.StartWorker({u"Other"}, {u"Other"}));
    release.Open();
    EXPECT_TRUE(scantest::Eventually([&] { return dialog.StopWorker(); }));
    v.Click(IDC_REFRESH);
    ASSERT_TRUE(WaitForCounts(v));
    EXPECT_EQ("Other 2 Other, Stuck 1 StuckGroup", Rows(v));
  });
  EXPECT_GE(refreshMs, es::kWorkerStopTimeoutMs - 100);
  EXPECT_LT(refreshMs, 2 * es::kWorkerStopTimeoutMs) << "the user waits for the worker once";
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
  HeadlessDesk desk;
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
    estest::RecordingCallback callback;
    callback.unattended = false;
    desk.AddScript(IDD_SCAN, [choose](HeadlessView& v) {
      ASSERT_EQ(2, v.ItemCount(kList));
      v.ClickRow(kList, 1);
      v.Click(choose);
    });
    EXPECT_EQ(1, holder.element->Scan(nullptr, 0, &callback));
    EXPECT_EQ(choose == IDC_SCAN ? 1u : 0u, callback.pages.size());
    EXPECT_EQ(choose == IDC_SCAN ? std::vector<std::u16string>{u"GroupB-doc/p1"} : std::vector<std::u16string>{},
              callback.AcceptedIds());
    EXPECT_TRUE(fs::exists(storage.root / "GroupA" / "GroupA-doc"));
  }
  EXPECT_EQ((std::vector<int>{IDD_SCAN, IDD_SCAN}), desk.runs);
}

}  // namespace
