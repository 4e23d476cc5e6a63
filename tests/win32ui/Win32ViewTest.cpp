// The Win32 dialog view on its own: real dialogs from the module's templates, driven by a
// probe logic that records what reaches it, and by window messages from a second thread.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "resources/ResourceIds.h"
#include "tests/win32ui/WindowDriver.h"
#include "ui/DialogView.h"

namespace {

using es::Command;
using es::IDialogView;
using es::Notify;
using es::Rect;
using es::Str;
using estest::WindowDriver;

constexpr std::uint32_t kGroupCounted = 0x8308;  // the counting worker's message

Str U(const std::wstring& text) { return Str(text.begin(), text.end()); }
std::wstring Wide(const Str& text) { return std::wstring(text.begin(), text.end()); }

// Records every event in arrival order; hooks let a test act inside a handler.
class ProbeLogic : public es::CDialogLogic {
 public:
  std::function<bool(IDialogView&)> init;
  std::function<void(IDialogView&, int, Command)> command;
  std::function<std::intptr_t(IDialogView&, std::uint32_t, std::uintptr_t, std::intptr_t)> message;
  std::function<void(IDialogView&)> destroy;
  bool helpHandled = true;
  std::vector<std::string> events;
  HWND window = nullptr;

  bool OnInitDialog() override {
    window = static_cast<HWND>(View().Handle());
    events.push_back("init");
    return init ? init(View()) : true;
  }
  void OnCommand(int id, Command code) override {
    events.push_back((code == Command::kClicked ? "clicked " : "selchange ") + std::to_string(id));
    if (command) command(View(), id, code);
  }
  void OnNotify(int id, Notify code) override {
    const char* name = code == Notify::kItemChanged ? "itemchanged " : code == Notify::kDoubleClick ? "dblclk " : "setfocus ";
    events.push_back(name + std::to_string(id));
  }
  bool OnHelp() override {
    events.push_back("help");
    return helpHandled;
  }
  std::intptr_t OnMessage(std::uint32_t msg, std::uintptr_t w, std::intptr_t l) override {
    events.push_back("message " + std::to_string(msg) + " " + std::to_string(w) + " " + std::to_string(l));
    return message ? message(View(), msg, w, l) : 0;
  }
  void OnOK() override {
    events.push_back("ok");
    CDialogLogic::OnOK();
  }
  void OnCancel() override {
    events.push_back("cancel");
    CDialogLogic::OnCancel();
  }
  void OnDestroy() override {
    events.push_back("destroy");
    if (destroy) destroy(View());
  }

  int Count(const std::string& event) const {
    int n = 0;
    for (const auto& e : events) n += e == event ? 1 : 0;
    return n;
  }
};

int RunDialog(int templateId, ProbeLogic& logic) {
  std::unique_ptr<IDialogView> view = es::CreateWin32View(nullptr, templateId);
  if (!view) {
    ADD_FAILURE() << "no view for template " << templateId;
    return -1;
  }
  return view->RunModal(logic);
}

void ExpectNoFailures(WindowDriver& driver) {
  driver.Finish();
  for (const auto& failure : driver.Failures()) ADD_FAILURE() << failure;
}

TEST(Win32View, MissingTemplateGivesNoView) { EXPECT_EQ(es::CreateWin32View(nullptr, 999), nullptr); }

TEST(Win32View, ListViewSortsSelectsAndKeepsItemData) {
  ProbeLogic logic;
  std::vector<int> landed;
  std::vector<Str> order;
  int notificationsDuringSelect = -1;
  int rowsAtDestroy = -1;
  logic.init = [&](IDialogView& v) {
    constexpr int list = IDC_STORAGE_LIST;
    v.InsertColumn(list, 0, u"Directory", es::kLvcfmtLeft, 100);
    v.InsertColumn(list, 1, u"Name", es::kLvcfmtLeft, 100);
    for (const char16_t* text : {u"delta", u"Alpha", u"charlie", u"bravo"}) {
      const int row = v.InsertItem(list, text);
      landed.push_back(row);
      v.SetItemData(list, row, 1000 + static_cast<int>(landed.size()));
      v.SetItemText(list, row, 1, Str(u"name of ") + text);
    }
    for (int row = 0; row < v.ItemCount(list); ++row) order.push_back(v.ItemText(list, row, 0));

    // Single selection: selecting "charlie" takes the selection from "Alpha".
    v.SetItemState(list, 0, es::kLvisSelected | es::kLvisFocused, es::kLvisSelected | es::kLvisFocused);
    const int before = logic.Count("itemchanged 14038");
    v.SetItemState(list, 2, es::kLvisSelected | es::kLvisFocused, es::kLvisSelected | es::kLvisFocused);
    notificationsDuringSelect = logic.Count("itemchanged 14038") - before;
    EXPECT_EQ(v.NextSelected(list, -1), 2);
    EXPECT_EQ(v.NextSelected(list, 2), -1);
    EXPECT_EQ(v.ItemState(list, 0, es::kLvisSelected), 0u);
    EXPECT_EQ(v.ItemState(list, 2, es::kLvisSelected | es::kLvisFocused), es::kLvisSelected | es::kLvisFocused);

    // Item data and sub-item text travel with their row through the sort.
    EXPECT_EQ(v.ItemData(list, 0), 1002);  // "Alpha" was inserted second
    EXPECT_EQ(v.ItemData(list, 3), 1001);  // "delta" first
    EXPECT_EQ(v.ItemText(list, 1, 1), u"name of bravo");

    // A long text comes back whole.
    const Str longText(700, u'x');
    v.SetItemText(list, 3, 1, longText);
    EXPECT_EQ(v.ItemText(list, 3, 1), longText);

    EXPECT_TRUE(v.DeleteItem(list, 0));
    EXPECT_EQ(v.ItemText(list, 0, 0), u"bravo");
    EXPECT_FALSE(v.DeleteItem(list, 7));
    v.EndDialog(77);
    return true;
  };
  logic.destroy = [&](IDialogView& v) { rowsAtDestroy = v.ItemCount(IDC_STORAGE_LIST); };

  EXPECT_EQ(RunDialog(IDD_CONFIGURE, logic), 77);
  EXPECT_EQ(landed, (std::vector<int>{0, 0, 1, 1}));
  EXPECT_EQ(order, (std::vector<Str>{u"Alpha", u"bravo", u"charlie", u"delta"}));
  // The list tells its parent about both rows, inside the call that changed them.
  EXPECT_GE(notificationsDuringSelect, 2);
  EXPECT_EQ(rowsAtDestroy, 3);  // the controls still answer in OnDestroy
  EXPECT_EQ(logic.events.back(), "destroy");
  EXPECT_FALSE(logic.HasView());
}

TEST(Win32View, SortedControlsUseTheLinguisticOrder) {
  // The list view and the combo box sort with the system's linguistic comparison, not by
  // character codes: a hyphen is ignored and an underscore sorts before the letters.
  // Texts that differ only in case may come in either order (Wine's list view puts lower
  // case first, its combo box treats them as equal).
  ProbeLogic logic;
  std::vector<Str> rows;
  std::vector<Str> entries;
  std::vector<int> landedSame;
  std::vector<std::intptr_t> dataSame;
  const std::vector<const char16_t*> texts{u"b", u"B", u"a-c", u"ab", u"A", u"a", u"a_z", u"aZ"};
  logic.init = [&](IDialogView& v) {
    for (const char16_t* text : texts) {
      v.InsertItem(IDC_GROUP_LIST, text);
      v.AddString(IDC_STORAGE_COMBO, text);
    }
    for (int row = 0; row < v.ItemCount(IDC_GROUP_LIST); ++row) rows.push_back(v.ItemText(IDC_GROUP_LIST, row, 0));
    // Identical texts: where the control puts a later one among them is its own affair
    // (Wine: before the others); item data tell the rows apart.
    v.DeleteAllItems(IDC_GROUP_LIST);
    for (int i = 1; i <= 3; ++i) {
      const int row = v.InsertItem(IDC_GROUP_LIST, u"same");
      v.SetItemData(IDC_GROUP_LIST, row, i);
      landedSame.push_back(row);
    }
    v.InsertItem(IDC_GROUP_LIST, u"other");
    for (int row = 0; row < v.ItemCount(IDC_GROUP_LIST); ++row) dataSame.push_back(v.ItemData(IDC_GROUP_LIST, row));
    for (int i = 0; i < v.ComboCount(IDC_STORAGE_COMBO); ++i) entries.push_back(v.ComboText(IDC_STORAGE_COMBO, i));
    v.EndDialog(1);
    return true;
  };
  RunDialog(IDD_SCAN, logic);
  ASSERT_EQ(dataSame.size(), 4u);
  EXPECT_EQ(dataSame[0], 0);  // "other"
  EXPECT_TRUE(std::is_permutation(dataSame.begin() + 1, dataSame.end(), std::vector<std::intptr_t>{1, 2, 3}.begin()));
  for (std::size_t i = 0; i < landedSame.size(); ++i) {
    EXPECT_GE(landedSame[i], 0);
    EXPECT_LE(landedSame[i], static_cast<int>(i));
  }
  std::printf("identical texts landed at rows %d %d %d\n", landedSame[0], landedSame[1], landedSame[2]);
  for (const auto* order : {&rows, &entries}) {
    ASSERT_EQ(order->size(), texts.size());
    std::string seen;
    for (const auto& s : *order) seen += std::string(s.begin(), s.end()) + " ";
    std::printf("%s order: %s\n", order == &rows ? "list" : "combo", seen.c_str());
    for (std::size_t i = 1; i < order->size(); ++i)
      EXPECT_LE(lstrcmpiW(Wide((*order)[i - 1]).c_str(), Wide((*order)[i]).c_str()), 0) << seen;
    auto at = [&](const char16_t* text) { return std::find(order->begin(), order->end(), Str(text)) - order->begin(); };
    EXPECT_LT(at(u"ab"), at(u"a-c")) << seen;
    EXPECT_LT(at(u"a_z"), at(u"ab")) << seen;
  }
}

TEST(Win32View, WindowAndControlGeometry) {
  ProbeLogic logic;
  logic.init = [&](IDialogView& v) {
    EXPECT_EQ(v.Caption(), u"Configure External Storage");
    v.SetCaption(u"Configure Something");
    EXPECT_EQ(v.Caption(), u"Configure Something");

    Rect window = v.WindowRect();
    EXPECT_GT(window.Width(), 300);
    EXPECT_GT(window.Height(), 300);
    Rect area;
    EXPECT_TRUE(v.MonitorWorkArea(&area));
    EXPECT_GT(area.Height(), 0);
    EXPECT_GT(area.Width(), 0);

    // Shrinking keeps left, top and width.
    Rect smaller{window.left, window.top, window.right, window.bottom - 40};
    v.MoveWindowTo(smaller, es::kNoZOrder | es::kNoActivate);
    EXPECT_EQ(v.WindowRect(), smaller);

    // Control rectangles are client coordinates and round-trip through a move.
    Rect ok = v.ControlRect(es::kIdOk);
    EXPECT_GT(ok.left, 0);
    EXPECT_GT(ok.Width(), 0);
    POINT topLeft{ok.left, ok.top};
    ClientToScreen(static_cast<HWND>(v.Handle()), &topLeft);
    RECT screen{};
    GetWindowRect(GetDlgItem(static_cast<HWND>(v.Handle()), IDOK), &screen);
    EXPECT_EQ(topLeft.x, screen.left);
    EXPECT_EQ(topLeft.y, screen.top);
    Rect up{ok.left, ok.top - 25, ok.right, ok.bottom - 25};
    v.MoveControlTo(es::kIdOk, up, es::kNoSize | es::kNoZOrder | es::kNoActivate);
    EXPECT_EQ(v.ControlRect(es::kIdOk), up);
    Rect list = v.ControlRect(IDC_STORAGE_LIST);
    list.bottom -= 30;
    v.MoveControlTo(IDC_STORAGE_LIST, list, es::kNoZOrder | es::kNoActivate);
    EXPECT_EQ(v.ControlRect(IDC_STORAGE_LIST), list);
    // The list's border lies between its outer and its client width.
    EXPECT_LT(v.ListClientWidth(IDC_STORAGE_LIST), v.ListOuterWidth(IDC_STORAGE_LIST));
    EXPECT_EQ(v.ListOuterWidth(IDC_STORAGE_LIST), list.Width());

    // Visibility of a control while the dialog itself is not shown yet.
    EXPECT_TRUE(v.IsControlVisible(IDC_SCAN));
    v.ShowControl(IDC_SCAN, false);
    EXPECT_FALSE(v.IsControlVisible(IDC_SCAN));
    EXPECT_TRUE(v.IsControlEnabled(IDC_EDIT));
    v.EnableControl(IDC_EDIT, false);
    EXPECT_FALSE(v.IsControlEnabled(IDC_EDIT));

    EXPECT_FALSE(v.IsChecked(IDC_DELETE_IMAGES));
    v.SetCheck(IDC_DELETE_IMAGES, true);
    EXPECT_TRUE(v.IsChecked(IDC_DELETE_IMAGES));
    EXPECT_EQ(v.ControlText(IDC_REGISTER), u"&Register...");
    v.SetControlText(IDC_REGISTER, u"&Add...");
    EXPECT_EQ(v.ControlText(IDC_REGISTER), u"&Add...");

    v.SetWaitCursor(true);
    EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_WAIT));
    v.SetWaitCursor(true);
    v.SetWaitCursor(false);
    EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_WAIT));  // nested: still waiting
    v.SetWaitCursor(false);
    EXPECT_NE(GetCursor(), LoadCursorW(nullptr, IDC_WAIT));

    v.InsertColumn(IDC_STORAGE_LIST, 0, u"Directory", es::kLvcfmtLeft, -1);
    v.SetColumnWidth(IDC_STORAGE_LIST, 0, 123);
    EXPECT_EQ(SendMessageW(GetDlgItem(static_cast<HWND>(v.Handle()), IDC_STORAGE_LIST), LVM_GETCOLUMNWIDTH, 0, 0),
              123);
    v.AddListExtendedStyle(IDC_STORAGE_LIST, es::kLvsExFullRowSelect);
    EXPECT_NE(SendMessageW(GetDlgItem(static_cast<HWND>(v.Handle()), IDC_STORAGE_LIST),
                           LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) &
                  LVS_EX_FULLROWSELECT,
              0);
    v.EndDialog(3);
    return true;
  };
  EXPECT_EQ(RunDialog(IDD_CONFIGURE, logic), 3);
}

TEST(Win32View, ComboBoxSortsKeepsDataAndReportsUserSelection) {
  ProbeLogic logic;
  std::vector<int> indexes;
  logic.init = [&](IDialogView& v) {
    constexpr int combo = IDC_STORAGE_COMBO;
    for (const char16_t* text : {u"Storage B", u"storage a", u"Storage C"}) {
      const int index = v.AddString(combo, text);
      indexes.push_back(index);
      v.SetComboData(combo, index, static_cast<std::intptr_t>(indexes.size() - 1));
    }
    EXPECT_EQ(v.ComboCount(combo), 3);
    EXPECT_EQ(v.ComboText(combo, 0), u"storage a");
    EXPECT_EQ(v.ComboData(combo, 0), 1);
    EXPECT_EQ(v.ComboData(combo, 2), 2);
    EXPECT_EQ(v.ComboData(combo, 9), -1);
    EXPECT_EQ(v.CurSel(combo), -1);
    v.SetCurSel(combo, 1);  // no selection-change event for the program's own choice
    EXPECT_EQ(v.CurSel(combo), 1);
    return true;
  };
  int selectionAtEvent = -1;
  logic.command = [&](IDialogView& v, int id, Command code) {
    if (id == IDC_STORAGE_COMBO && code == Command::kSelChange) selectionAtEvent = v.CurSel(id);
  };
  WindowDriver driver([](WindowDriver& d) {
    HWND dialog = d.WaitDialog(L"Scan from External Storage");
    HWND combo = GetDlgItem(dialog, IDC_STORAGE_COMBO);
    // The user presses the down arrow in the closed drop-down list.
    SendMessageW(combo, WM_KEYDOWN, VK_DOWN, 0);
    SendMessageW(combo, WM_KEYUP, VK_DOWN, 0);
    d.Click(dialog, IDCANCEL);
    d.WaitGone(dialog);
  });
  EXPECT_EQ(RunDialog(IDD_SCAN, logic), es::kIdCancel);
  ExpectNoFailures(driver);
  EXPECT_EQ(indexes, (std::vector<int>{0, 0, 2}));
  EXPECT_EQ(logic.Count("selchange 14043"), 1);
  EXPECT_EQ(selectionAtEvent, 2);
}

TEST(Win32View, ButtonsAndCheckBoxesReachTheLogic) {
  ProbeLogic logic;
  bool checkedAtEvent = false;
  logic.command = [&](IDialogView& v, int id, Command) {
    if (id == IDC_DELETE_IMAGES) checkedAtEvent = v.IsChecked(id);
  };
  WindowDriver driver([](WindowDriver& d) {
    HWND dialog = d.WaitDialog(L"Configure External Storage");
    d.ClickNow(dialog, IDC_DELETE_IMAGES);
    d.Expect(d.Checked(dialog, IDC_DELETE_IMAGES), "auto check box did not toggle");
    d.ClickNow(dialog, IDC_REGISTER);
    d.ClickNow(dialog, IDC_HELP_BUTTON);
    d.Click(dialog, IDOK);
    d.WaitGone(dialog);
  });
  EXPECT_EQ(RunDialog(IDD_CONFIGURE, logic), es::kIdOk);
  ExpectNoFailures(driver);
  EXPECT_TRUE(checkedAtEvent);  // the box had toggled when the click arrived
  EXPECT_EQ(logic.Count("clicked 14035"), 1);
  EXPECT_EQ(logic.Count("clicked 14039"), 1);
  EXPECT_EQ(logic.Count("clicked 14037"), 1);
  EXPECT_EQ(logic.Count("ok"), 1);
  EXPECT_EQ(logic.Count("cancel"), 0);
}

TEST(Win32View, EscapeAndCloseBoxCancel) {
  for (bool closeBox : {false, true}) {
    ProbeLogic logic;
    WindowDriver driver([closeBox](WindowDriver& d) {
      HWND dialog = d.WaitDialog(L"Edit External Storage");
      if (closeBox) {
        PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
      } else {
        HWND edit = GetDlgItem(dialog, IDC_DIRECTORY);
        PostMessageW(edit, WM_KEYDOWN, VK_ESCAPE, 0);
        PostMessageW(edit, WM_KEYUP, VK_ESCAPE, 0);
      }
      d.WaitGone(dialog);
    });
    EXPECT_EQ(RunDialog(IDD_EDIT_STORAGE, logic), es::kIdCancel) << (closeBox ? "close box" : "escape");
    ExpectNoFailures(driver);
    EXPECT_EQ(logic.Count("cancel"), 1);
  }
}

TEST(Win32View, ListNotificationsReachTheLogic) {
  ProbeLogic logic;
  logic.init = [&](IDialogView& v) {
    v.InsertColumn(IDC_STORAGE_LIST, 0, u"Directory", es::kLvcfmtLeft, 200);
    v.InsertItem(IDC_STORAGE_LIST, u"one");
    v.InsertItem(IDC_STORAGE_LIST, u"two");
    return false;  // the focus stays where the probe puts it
  };
  int focusEvents = -1;
  logic.message = [&](IDialogView& v, std::uint32_t msg, std::uintptr_t, std::intptr_t) -> std::intptr_t {
    if (msg == WM_APP + 1) {
      const int before = logic.Count("setfocus 14038");
      v.SetFocusTo(IDC_REGISTER);
      v.SetFocusTo(IDC_STORAGE_LIST);
      focusEvents = logic.Count("setfocus 14038") - before;
    }
    return 0;
  };
  WindowDriver driver([](WindowDriver& d) {
    HWND dialog = d.WaitDialog(L"Configure External Storage");
    d.SelectRow(dialog, IDC_STORAGE_LIST, 1);
    SendMessageW(dialog, WM_APP + 1, 0, 0);
    // A double click on the first row, where the user would make it.
    HWND list = GetDlgItem(dialog, IDC_STORAGE_LIST);
    RECT row{};
    row.left = LVIR_LABEL;
    SendMessageW(list, LVM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&row));
    const LPARAM at = MAKELPARAM(row.left + 5, (row.top + row.bottom) / 2);
    SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(list, WM_LBUTTONUP, 0, at);
    SendMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    SendMessageW(list, WM_LBUTTONUP, 0, at);
    d.Expect(d.SelectedRow(dialog, IDC_STORAGE_LIST) == 0, "the double-clicked row is not selected");
    d.Click(dialog, IDCANCEL);
    d.WaitGone(dialog);
  });
  EXPECT_EQ(RunDialog(IDD_CONFIGURE, logic), es::kIdCancel);
  ExpectNoFailures(driver);
  EXPECT_GE(logic.Count("itemchanged 14038"), 1);
  EXPECT_EQ(focusEvents, 1);
  EXPECT_EQ(logic.Count("dblclk 14038"), 1);
}

TEST(Win32View, PostedHelpAndOwnMessagesReachTheLogic) {
  ProbeLogic logic;
  std::shared_ptr<es::IMessagePoster> poster;
  logic.init = [&](IDialogView& v) {
    poster = v.Poster();
    EXPECT_TRUE(v.Post(WM_APP + 7, 1, 2));  // queued: arrives after initialisation
    return true;
  };
  logic.message = [&](IDialogView&, std::uint32_t msg, std::uintptr_t, std::intptr_t) -> std::intptr_t {
    return msg == es::kWmCommandHelp ? 55 : 0;
  };
  LRESULT helpResult = 0;
  LRESULT commandHelpResult = 0;
  WindowDriver driver([&](WindowDriver& d) {
    HWND dialog = d.WaitDialog(L"Edit External Storage");
    // The counting worker's way: a post from another thread.
    std::thread worker([&] { d.Expect(poster->Post(kGroupCounted, 0, 0), "post from a worker failed"); });
    worker.join();
    HELPINFO help{};
    help.cbSize = sizeof(help);
    help.iContextType = HELPINFO_WINDOW;
    help.hItemHandle = dialog;
    helpResult = SendMessageW(dialog, WM_HELP, 0, reinterpret_cast<LPARAM>(&help));
    commandHelpResult = SendMessageW(dialog, es::kWmCommandHelp, 0, 0);
    d.Click(dialog, IDCANCEL);
    d.WaitGone(dialog);
  });
  EXPECT_EQ(RunDialog(IDD_EDIT_STORAGE, logic), es::kIdCancel);
  ExpectNoFailures(driver);
  EXPECT_EQ(logic.Count("message 32775 1 2"), 1);  // WM_APP + 7
  EXPECT_EQ(logic.Count("message 33544 0 0"), 1);  // 0x8308
  EXPECT_EQ(logic.Count("message 869 0 0"), 1);    // 0x365
  EXPECT_EQ(logic.Count("help"), 1);
  EXPECT_EQ(helpResult, TRUE);
  EXPECT_EQ(commandHelpResult, 55);
  // The window is gone: a late count is dropped without effect.
  ASSERT_TRUE(poster);
  EXPECT_FALSE(poster->Post(kGroupCounted, 0, 0));
}

TEST(Win32View, MessageBoxesAreStandardBoxesOwnedByTheDialog) {
  ProbeLogic logic;
  int answer = 0;
  logic.message = [&](IDialogView& v, std::uint32_t msg, std::uintptr_t, std::intptr_t) -> std::intptr_t {
    if (msg == WM_APP + 2) {
      answer = v.MessageBoxId(IDS_ASK_REMOVE, es::kMbYesNo | es::kMbIconQuestion | es::kMbDefButton2);
      v.EndDialog(es::kIdOk);
    }
    return 0;
  };
  std::wstring text;
  HWND owner = nullptr;
  WindowDriver driver([&](WindowDriver& d) {
    HWND dialog = d.WaitDialog(L"Configure External Storage");
    PostMessageW(dialog, WM_APP + 2, 0, 0);  // the probe asks now
    HWND box = d.WaitMessageBox(dialog, L"External Storage Input", &text);
    owner = GetWindow(box, GW_OWNER);
    d.Expect(GetDlgItem(box, IDYES) != nullptr && GetDlgItem(box, IDNO) != nullptr, "not a Yes/No box");
    d.Expect(!IsWindowEnabled(dialog), "the dialog stays usable under its message box");
    d.Answer(box, IDNO);
    d.WaitGone(dialog);
  });
  EXPECT_EQ(RunDialog(IDD_CONFIGURE, logic), es::kIdOk);
  ExpectNoFailures(driver);
  EXPECT_EQ(answer, es::kIdNo);
  EXPECT_EQ(text, L"Do you want to remove registration of selected External Storage?");
  EXPECT_EQ(owner, logic.window);
}

TEST(Win32View, FolderBrowserStartsAtTheGivenFolder) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "win32ui-browse";
  std::filesystem::create_directories(folder);
  const std::wstring path = folder.wstring();
  ProbeLogic logic;
  std::optional<Str> chosen;
  std::optional<Str> cancelled = u"untouched";
  logic.message = [&](IDialogView& v, std::uint32_t msg, std::uintptr_t, std::intptr_t) -> std::intptr_t {
    if (msg == WM_APP + 3) {
      chosen = v.BrowseForFolder(U(path), u"Select Directory");
      cancelled = v.BrowseForFolder(u"", u"Select Directory");
      v.EndDialog(es::kIdOk);
    }
    return 0;
  };
  bool statusShown = false;
  WindowDriver driver([&](WindowDriver& d) {
    HWND dialog = d.WaitDialog(L"Edit External Storage");
    PostMessageW(dialog, WM_APP + 3, 0, 0);  // the probe browses now
    // First the browser on the folder: it opens there, and OK returns it.
    HWND browser = d.WaitOwned(dialog);
    // The initial selection is made once the browser has initialised, after it shows;
    // its status line names the folder then. OK before that would return another folder.
    for (int waited = 0; waited < 10000 && !statusShown; waited += 20) {
      statusShown = d.HasChildWithText(browser, path);
      if (!statusShown) Sleep(20);
    }
    PostMessageW(browser, WM_COMMAND, IDOK, 0);
    d.WaitGone(browser);
    // Then on no folder, cancelled.
    browser = d.WaitOwned(dialog);
    PostMessageW(browser, WM_COMMAND, IDCANCEL, 0);
    d.WaitGone(browser);
    d.WaitGone(dialog);
  });
  EXPECT_EQ(RunDialog(IDD_EDIT_STORAGE, logic), es::kIdOk);
  ExpectNoFailures(driver);
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(_wcsicmp(Wide(*chosen).c_str(), path.c_str()), 0) << Wide(*chosen).size();
  EXPECT_FALSE(cancelled.has_value());
  std::printf("folder browser status text shows the selection: %s\n", statusShown ? "yes" : "no");
  std::filesystem::remove_all(folder);
}

TEST(Win32View, ExceptionInAHandlerEndsTheDialogAndReachesTheCaller) {
  ProbeLogic logic;
  logic.command = [](IDialogView&, int id, Command) {
    if (id == IDC_REGISTER) throw std::runtime_error("from the handler");
  };
  WindowDriver driver([](WindowDriver& d) {
    HWND dialog = d.WaitDialog(L"Configure External Storage");
    d.Click(dialog, IDC_REGISTER);
    d.WaitGone(dialog);
  });
  EXPECT_THROW(RunDialog(IDD_CONFIGURE, logic), std::runtime_error);
  ExpectNoFailures(driver);
  EXPECT_EQ(logic.events.back(), "destroy");
  EXPECT_FALSE(IsWindow(logic.window));
}

}  // namespace
