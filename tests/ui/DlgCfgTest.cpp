// The configure dialog: layout at start, the list of storages, Register, Edit, Remove,
// the clean-up switches and the ways it ends.
#include <map>
#include <stdexcept>

#include "tests/support/Capture.h"
#include "resources/ResourceIds.h"
#include "tests/ui/DialogTestSupport.h"
#include "ui/DlgCfg.h"

namespace {

using es::HeadlessDesk;
using es::HeadlessView;
using es::Rect;
using es::Str;

constexpr int kList = IDC_STORAGE_LIST;
constexpr std::uint32_t kBoth = es::kLvisSelected | es::kLvisFocused;

std::vector<Str> Rows(const es::IDialogView& v, int column) {
  std::vector<Str> out;
  for (int r = 0; r < v.ItemCount(kList); ++r) out.push_back(v.ItemText(kList, r, column));
  return out;
}

class ConfigureDialog : public ::testing::Test {
 protected:
  ConfigureDialog() : dialog(nullptr) {
    dialog.deleteImages = 1;
    dialog.deleteGroupFolder = 1;
    dialog.allowScan = true;
  }
  // Registers the storages a (named "Alpha"), b (no description) and c (named "Gamma").
  void ThreeStorages() {
    a = storages.Add("a", "Alpha\r\nsecond line");
    b = storages.Add("b");
    c = storages.Add("c", "Gamma");
    dialog.registeredDirectories = {c, a, b};
    dialog.storageNames = {u"Gamma", u"Alpha", u""};
  }
  int Run(std::function<void(HeadlessView&)> actions) {
    desk.AddScript(IDD_CONFIGURE, std::move(actions));
    return dialog.DoModal();
  }

  es::ModuleStateScope strings;  // the module's texts
  HeadlessDesk desk;
  uitest::Storages storages;
  es::CDlgConfigure dialog;
  Str a, b, c;
};

TEST_F(ConfigureDialog, ShrinksToNinetyPercentOfTheWorkAreaAndMovesTheBottomControlsUp) {
  desk.workArea = Rect{0, 0, 1600, 1000};
  std::map<int, Rect> before, after;
  Rect window;
  const int ids[] = {-1, kList, IDC_REGISTER, IDC_EDIT, IDC_REMOVE, IDC_DELETE_IMAGES, IDC_DELETE_GROUP_FOLDER,
                     es::kIdOk, es::kIdCancel, IDC_SCAN, IDC_HELP_BUTTON};
  estest::TraceCapture trace;
  desk.AddScript(IDD_CONFIGURE, es::HeadlessScript{[&](HeadlessView& v) {
                                                     Rect r = v.WindowRect();
                                                     r.bottom = r.top + 950;
                                                     v.MoveWindowTo(r, es::kNoMove | es::kNoZOrder);
                                                     for (int id : ids) before[id] = v.ControlRect(id);
                                                   },
                                                   [&](HeadlessView& v) {
                                                     window = v.WindowRect();
                                                     for (int id : ids) after[id] = v.ControlRect(id);
                                                   }});
  dialog.DoModal();
  EXPECT_EQ(900, window.Height());
  EXPECT_EQ(before[kList].Height() - 50, after[kList].Height());
  EXPECT_EQ(before[kList].top, after[kList].top);
  EXPECT_EQ(before[kList].Width(), after[kList].Width());
  for (int id : {IDC_DELETE_IMAGES, IDC_DELETE_GROUP_FOLDER, es::kIdOk, es::kIdCancel, IDC_SCAN, IDC_HELP_BUTTON}) {
    Rect moved = before[id];
    moved.top -= 50;
    moved.bottom -= 50;
    EXPECT_EQ(moved, after[id]) << id;
  }
  for (int id : {-1, IDC_REGISTER, IDC_EDIT, IDC_REMOVE}) EXPECT_EQ(before[id], after[id]) << id;

  std::vector<estest::TraceLine> lines = trace.Lines();
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ(7, lines[0].severity);
  EXPECT_EQ("DlgCfg", lines[0].source);
  EXPECT_EQ(u"Configure external storage dialog: resize height to 900", lines[0].text);
}

TEST_F(ConfigureDialog, LeavesADialogThatFitsAsItIs) {
  desk.workArea = Rect{0, 0, 1600, 1000};
  estest::TraceCapture trace;
  Rect window;
  Rect ok;
  desk.AddScript(IDD_CONFIGURE, es::HeadlessScript{[&](HeadlessView& v) {
                                                     Rect r = v.WindowRect();
                                                     r.bottom = r.top + 900;
                                                     v.MoveWindowTo(r, es::kNoMove);
                                                     ok = v.ControlRect(es::kIdOk);
                                                   },
                                                   [&](HeadlessView& v) {
                                                     window = v.WindowRect();
                                                     EXPECT_EQ(ok, v.ControlRect(es::kIdOk));
                                                   }});
  dialog.DoModal();
  EXPECT_EQ(900, window.Height());
  EXPECT_TRUE(trace.Lines().empty());

  // Without monitor data the size stays too.
  desk.workAreaAvailable = false;
  desk.AddScript(IDD_CONFIGURE, es::HeadlessScript{[&](HeadlessView& v) {
                                                     Rect r = v.WindowRect();
                                                     r.bottom = r.top + 5000;
                                                     v.MoveWindowTo(r, es::kNoMove);
                                                   },
                                                   [&](HeadlessView& v) { window = v.WindowRect(); }});
  dialog.DoModal();
  EXPECT_EQ(5000, window.Height());
}

// A view whose monitor query fails the way a broken window would.
class ThrowingView : public HeadlessView {
 public:
  using HeadlessView::HeadlessView;
  bool MonitorWorkArea(Rect*) const override { throw std::runtime_error("no monitor"); }
};

TEST_F(ConfigureDialog, AnErrorWhileFittingIsTracedAndTheDialogGoesOn) {
  ThreeStorages();
  estest::TraceCapture trace;
  es::ViewFactory previous = es::SetViewFactory(
      [](WindowHandle parent, int id) -> std::unique_ptr<es::IDialogView> { return std::make_unique<ThrowingView>(parent, id); });
  int rows = 0;
  desk.AddScript(IDD_CONFIGURE, [&](HeadlessView& v) { rows = v.ItemCount(kList); });
  dialog.DoModal();
  es::SetViewFactory(previous);
  EXPECT_EQ(3, rows);
  std::vector<estest::TraceLine> lines = trace.Lines();
  ASSERT_EQ(1u, lines.size());
  EXPECT_EQ(6, lines[0].severity);
  EXPECT_EQ("DlgCfg", lines[0].source);
  EXPECT_EQ(u"internal error occurred", lines[0].text);
}

TEST_F(ConfigureDialog, WithoutScanAndCloseOkAndCancelMoveRight) {
  Rect okBefore, cancelBefore, scanBefore, okAfter, cancelAfter;
  bool scanVisible = true, scanEnabled = true;
  dialog.allowScan = false;
  desk.AddScript(IDD_CONFIGURE, es::HeadlessScript{[&](HeadlessView& v) {
                                                     okBefore = v.ControlRect(es::kIdOk);
                                                     cancelBefore = v.ControlRect(es::kIdCancel);
                                                     scanBefore = v.ControlRect(IDC_SCAN);
                                                   },
                                                   [&](HeadlessView& v) {
                                                     okAfter = v.ControlRect(es::kIdOk);
                                                     cancelAfter = v.ControlRect(es::kIdCancel);
                                                     scanVisible = v.IsControlVisible(IDC_SCAN);
                                                     scanEnabled = v.IsControlEnabled(IDC_SCAN);
                                                   }});
  dialog.DoModal();
  const int shift = scanBefore.right - cancelBefore.right;
  EXPECT_GT(shift, 0);
  EXPECT_EQ(scanBefore.right, cancelAfter.right);
  EXPECT_EQ((Rect{cancelBefore.left + shift, cancelBefore.top, cancelBefore.right + shift, cancelBefore.bottom}),
            cancelAfter);
  EXPECT_EQ((Rect{okBefore.left + shift, okBefore.top, okBefore.right + shift, okBefore.bottom}), okAfter);
  EXPECT_FALSE(scanVisible);
  EXPECT_FALSE(scanEnabled);

  // Allowed: nothing moves and the button shows.
  dialog.allowScan = true;
  Run([&](HeadlessView& v) {
    EXPECT_EQ(okBefore, v.ControlRect(es::kIdOk));
    EXPECT_TRUE(v.IsControlVisible(IDC_SCAN));
  });
}

TEST_F(ConfigureDialog, CaptionFormatTakesTheDisplayName) {
  Str caption;
  dialog.captionGiven = true;
  dialog.captionFormat = u"Setup of %s (100%%)";
  Run([&](HeadlessView& v) { caption = v.Caption(); });
  EXPECT_EQ(u"Setup of External Storage (100%)", caption);
  EXPECT_FALSE(dialog.captionGiven);
  // Without the flag the template's caption stays.
  Run([&](HeadlessView& v) { caption = v.Caption(); });
  EXPECT_EQ(u"Configure External Storage", caption);
}

TEST_F(ConfigureDialog, DeleteGroupFolderOnlyWhileDeleteImagesIsOn) {
  dialog.deleteImages = 0;
  dialog.deleteGroupFolder = 1;
  dialog.registeredDirectories = {u"x"};
  dialog.storageNames = {u""};
  const int result = Run([&](HeadlessView& v) {
    EXPECT_FALSE(v.IsChecked(IDC_DELETE_IMAGES));
    EXPECT_FALSE(v.IsChecked(IDC_DELETE_GROUP_FOLDER));
    EXPECT_FALSE(v.IsControlEnabled(IDC_DELETE_GROUP_FOLDER));
    // On again: the box is usable but stays unchecked.
    v.Click(IDC_DELETE_IMAGES);
    EXPECT_TRUE(v.IsControlEnabled(IDC_DELETE_GROUP_FOLDER));
    EXPECT_FALSE(v.IsChecked(IDC_DELETE_GROUP_FOLDER));
    v.Click(IDC_DELETE_GROUP_FOLDER);
    EXPECT_EQ(1, dialog.deleteGroupFolder);
    // Off: Delete Group Folder goes off and is disabled.
    v.Click(IDC_DELETE_IMAGES);
    EXPECT_FALSE(v.IsChecked(IDC_DELETE_GROUP_FOLDER));
    EXPECT_FALSE(v.IsControlEnabled(IDC_DELETE_GROUP_FOLDER));
    v.Click(IDC_DELETE_IMAGES);
    v.Click(es::kIdOk);
  });
  EXPECT_EQ(es::kIdOk, result);
  EXPECT_EQ(1, dialog.deleteImages);
  EXPECT_EQ(0, dialog.deleteGroupFolder);
}

TEST_F(ConfigureDialog, ListsStoragesSortedWithNamesAndSelectsTheSelectedDirectory) {
  ThreeStorages();
  dialog.selectedDirectory = c;
  Run([&](HeadlessView& v) {
    EXPECT_EQ((std::vector<Str>{a, b, c}), Rows(v, 0));
    EXPECT_EQ((std::vector<Str>{u"Alpha", u"<not found>", u"Gamma"}), Rows(v, 1));
    EXPECT_EQ(kBoth, v.ItemState(kList, 2, kBoth));
    EXPECT_TRUE(v.IsControlEnabled(IDC_EDIT));
    EXPECT_TRUE(v.IsControlEnabled(IDC_REMOVE));
    EXPECT_TRUE(v.IsControlEnabled(IDC_SCAN));
    ASSERT_EQ(2, v.ColumnCount(kList));
    EXPECT_EQ(u"Directory", v.ColumnText(kList, 0));
    EXPECT_EQ(u"Name", v.ColumnText(kList, 1));
    EXPECT_EQ(v.ListClientWidth(kList) / 2, v.ColumnWidth(kList, 1));
    EXPECT_FALSE(v.WaitCursor());
    EXPECT_EQ(1, v.WaitCursorCount());
  });
  // Nothing selected: the row buttons are off.
  dialog.selectedDirectory = u"elsewhere";
  Run([&](HeadlessView& v) {
    EXPECT_EQ(-1, v.NextSelected(kList, -1));
    EXPECT_FALSE(v.IsControlEnabled(IDC_EDIT));
    EXPECT_FALSE(v.IsControlEnabled(IDC_REMOVE));
    EXPECT_FALSE(v.IsControlEnabled(IDC_SCAN));
    v.ClickRow(kList, 0);
    EXPECT_TRUE(v.IsControlEnabled(IDC_EDIT));
  });
}

TEST_F(ConfigureDialog, RemoveAsksAndSelectsTheNextOrThePreviousRow) {
  ThreeStorages();
  desk.AddAnswer(es::kIdNo);
  for (int i = 0; i < 3; ++i) desk.AddAnswer(es::kIdYes);
  Run([&](HeadlessView& v) {
    v.ClickRow(kList, 1);
    v.Click(IDC_REMOVE);  // No
    EXPECT_EQ(3, v.ItemCount(kList));
    v.Click(IDC_REMOVE);  // the middle row: the next one moves up and is selected
    EXPECT_EQ((std::vector<Str>{a, c}), Rows(v, 0));
    EXPECT_EQ(kBoth, v.ItemState(kList, 1, kBoth));
    v.Click(IDC_REMOVE);  // the last row: the one above is selected
    EXPECT_EQ((std::vector<Str>{a}), Rows(v, 0));
    EXPECT_EQ(kBoth, v.ItemState(kList, 0, kBoth));
    EXPECT_EQ(kList, v.FocusedControl());
    v.Click(IDC_REMOVE);  // the only row: nothing left to select
    EXPECT_EQ(0, v.ItemCount(kList));
    EXPECT_FALSE(v.IsControlEnabled(IDC_EDIT));
    EXPECT_FALSE(v.IsControlEnabled(IDC_REMOVE));
    EXPECT_FALSE(v.IsControlEnabled(IDC_SCAN));
  });
  ASSERT_EQ(4u, desk.boxes.size());
  EXPECT_EQ(static_cast<std::uint32_t>(IDS_ASK_REMOVE), desk.boxes[0].stringId);
  EXPECT_EQ(es::kMbYesNo | es::kMbIconQuestion | es::kMbDefButton2, desk.boxes[0].style);
}

TEST_F(ConfigureDialog, CancelledEditKeepsTheRowAndSelectsIt) {
  ThreeStorages();
  Str editedText;
  desk.AddScript(IDD_EDIT_STORAGE, [&](HeadlessView& v) {
    editedText = v.ControlText(IDC_DIRECTORY);
    v.TypeText(IDC_DIRECTORY, u"whatever");
    v.Click(es::kIdCancel);
  });
  Run([&](HeadlessView& v) {
    v.ClickRow(kList, 1);
    v.SetItemState(kList, 1, es::kLvisSelected, kBoth);  // selected, focus elsewhere
    v.Click(IDC_EDIT);
    EXPECT_EQ((std::vector<Str>{a, b, c}), Rows(v, 0));
    EXPECT_EQ(kBoth, v.ItemState(kList, 1, kBoth));
  });
  EXPECT_EQ(b, editedText);
}

TEST_F(ConfigureDialog, EditAndRegisterPlaceTheNewDirectoryInOrderWithItsName) {
  ThreeStorages();
  const Str d = storages.Add("d", "Delta\r\n");
  const Str aa = storages.Add("aa", "Double A");
  Str registerCaption;
  desk.AddScript(IDD_EDIT_STORAGE, [&](HeadlessView& v) {  // Edit by double click on a
    v.TypeText(IDC_DIRECTORY, d);
    v.Click(es::kIdOk);
  });
  desk.AddScript(IDD_EDIT_STORAGE, [&](HeadlessView& v) {  // Register
    registerCaption = v.Caption();
    v.TypeText(IDC_DIRECTORY, aa);
    v.Click(es::kIdOk);
  });
  Run([&](HeadlessView& v) {
    v.DoubleClickRow(kList, 0);
    EXPECT_EQ((std::vector<Str>{b, c, d}), Rows(v, 0));
    EXPECT_EQ(u"Delta", v.ItemText(kList, 2, 1));
    EXPECT_EQ(kBoth, v.ItemState(kList, 2, kBoth));
    v.Click(IDC_REGISTER);
    EXPECT_EQ((std::vector<Str>{aa, b, c, d}), Rows(v, 0));
    EXPECT_EQ(u"Double A", v.ItemText(kList, 0, 1));
    EXPECT_EQ(kBoth, v.ItemState(kList, 0, kBoth));
    EXPECT_EQ(0u, v.ItemState(kList, 3, kBoth));
    v.Click(es::kIdOk);
  });
  EXPECT_EQ(u"Register External Storage", registerCaption);
  EXPECT_EQ((std::vector<Str>{aa, b, c, d}), dialog.registeredDirectories);
  EXPECT_EQ(aa, dialog.selectedDirectory);
}

TEST_F(ConfigureDialog, OkWritesTheRowsInDisplayOrderAndScanAndCloseEndsWith15001) {
  ThreeStorages();
  dialog.selectedDirectory = a;
  EXPECT_EQ(es::kIdOk, Run([](HeadlessView& v) { v.Click(es::kIdOk); }));
  EXPECT_EQ((std::vector<Str>{a, b, c}), dialog.registeredDirectories);
  EXPECT_EQ(a, dialog.selectedDirectory);

  EXPECT_EQ(es::kResultScanAndClose, Run([](HeadlessView& v) {
              v.ClickRow(kList, 2);
              v.Click(IDC_SCAN);
            }));
  EXPECT_EQ(c, dialog.selectedDirectory);
}

TEST_F(ConfigureDialog, CancelTakesNothingOver) {
  ThreeStorages();
  dialog.selectedDirectory = a;
  desk.AddAnswer(es::kIdYes);
  EXPECT_EQ(es::kIdCancel, Run([](HeadlessView& v) {
              v.ClickRow(kList, 1);
              v.Click(IDC_REMOVE);
              v.Click(IDC_DELETE_IMAGES);
              v.Click(es::kIdCancel);
            }));
  EXPECT_EQ((std::vector<Str>{c, a, b}), dialog.registeredDirectories);
  EXPECT_EQ(a, dialog.selectedDirectory);
}

TEST_F(ConfigureDialog, AnEmptyListAsksBeforeClosing) {
  desk.AddAnswer(es::kIdYes);  // Remove
  desk.AddAnswer(es::kIdNo);   // first OK
  desk.AddAnswer(es::kIdYes);  // second OK
  dialog.registeredDirectories = {u"stale"};
  dialog.selectedDirectory = u"kept";
  bool stayed = false;
  const int result = Run([&](HeadlessView& v) {
    v.ClickRow(kList, 0);
    v.Click(IDC_REMOVE);
    v.Click(es::kIdOk);  // No: stays
    stayed = v.Running();
    v.Click(es::kIdOk);  // Yes
  });
  EXPECT_TRUE(stayed);
  EXPECT_EQ(es::kIdOk, result);
  EXPECT_TRUE(dialog.registeredDirectories.empty());
  EXPECT_EQ(u"kept", dialog.selectedDirectory) << "no selected row: the selected directory stays";
  std::vector<std::uint32_t> ids;
  for (const auto& box : desk.boxes) ids.push_back(box.stringId);
  EXPECT_EQ((std::vector<std::uint32_t>{IDS_ASK_REMOVE, IDS_ASK_CLOSE_EMPTY, IDS_ASK_CLOSE_EMPTY}), ids);
  EXPECT_EQ(es::kMbYesNo | es::kMbIconExclamation, desk.boxes[1].style);
}

TEST_F(ConfigureDialog, HelpShowsTheConfigureTopic) {
  estest::MessageCapture capture;
  Run([](HeadlessView& v) {
    v.Click(IDC_HELP_BUTTON);
    v.PressF1();
  });
  ASSERT_EQ(2u, capture.boxes.size());
  EXPECT_EQ(145152u, capture.boxes[0].id);
  EXPECT_EQ(145152u, capture.boxes[1].id);
}

}  // namespace
