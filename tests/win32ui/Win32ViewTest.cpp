// The Win32 view: the view contract on real dialogs driven by window messages from a
// second thread, and what only the real controls do.
#include <windows.h>
#include <commctrl.h>

#include <filesystem>

#include "resources/ResourceIds.h"
#include "tests/support/TempFolder.h"
#include "tests/ui/ViewContract.h"
#include "tests/win32ui/WindowDriver.h"
#include "ui/DialogTemplates.h"

namespace {

using estest::WindowDriver;
using viewtest::IDialogView;
using viewtest::Str;

std::wstring Wide(const Str& text) { return std::wstring(text.begin(), text.end()); }

class Win32User final : public viewtest::User {
 public:
  Win32User(WindowDriver& d, HWND dialog) : d(d), dialog(dialog) {}
  bool Click(int id) override {
    HWND item = GetDlgItem(dialog, id);
    if (!IsWindowEnabled(item) || !IsWindowVisible(item)) return false;
    d.ClickNow(dialog, id);
    return true;
  }
  void ComboDown(int id) override {
    for (UINT m : {WM_KEYDOWN, WM_KEYUP}) SendMessageW(GetDlgItem(dialog, id), m, VK_DOWN, 0);
  }
  void DoubleClickRow(int id, int row) override {  // where the user would make it
    HWND list = GetDlgItem(dialog, id);
    RECT r{};
    ListView_GetItemRect(list, row, &r, LVIR_LABEL);
    const LPARAM at = MAKELPARAM(r.left + 5, (r.top + r.bottom) / 2);
    for (UINT m : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP})
      SendMessageW(list, m, m == WM_LBUTTONUP ? 0 : MK_LBUTTON, at);
  }
  void PressF1() override {
    HELPINFO help{};
    help.cbSize = sizeof(help);
    help.iContextType = HELPINFO_WINDOW;
    help.hItemHandle = dialog;
    d.Expect(SendMessageW(dialog, WM_HELP, 0, reinterpret_cast<LPARAM>(&help)) == TRUE, "F1 is answered as handled");
  }
  void PressEscape() override {  // into the control that has the focus
    HWND focus = WindowDriver::Focus(dialog) != nullptr ? WindowDriver::Focus(dialog) : dialog;
    for (UINT m : {WM_KEYDOWN, WM_KEYUP}) PostMessageW(focus, m, VK_ESCAPE, 0);
    d.WaitGone(dialog);
  }
  void CloseBox() override {
    PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    d.WaitGone(dialog);
  }
  Str ClickAnswering(int id, int answer) override {
    d.Click(dialog, id);
    HWND box = d.WaitDialog(L"External Storage Input", dialog);
    const std::wstring text = WindowDriver::Text(GetDlgItem(box, 0xFFFF));
    d.Expect(!IsWindowEnabled(dialog), "the dialog stays usable under its message box");
    d.Answer(box, answer);
    return Str(text.begin(), text.end());
  }
  bool Until(const std::function<bool(IDialogView&)>& check) override {
    const LPARAM call = reinterpret_cast<LPARAM>(&check);
    return WindowDriver::Poll(5000, [&] { return SendMessageW(dialog, viewtest::kCallMessage, 0, call) != 0; });
  }
  WindowDriver& d;
  HWND dialog;
};

// Runs `logic` in the real dialog while `script` drives it; the user closes what is left.
int RunWin32(int templateId, es::CDialogLogic& logic, const std::function<void(viewtest::User&)>& script) {
  std::unique_ptr<IDialogView> view = es::CreateWin32View(nullptr, templateId);
  if (!view) return ADD_FAILURE() << "no view for template " << templateId, -1;
  if (!script) return view->RunModal(logic);
  WindowDriver driver([&](WindowDriver& d) {
    Win32User user(d, d.WaitDialog(Wide(es::templates::FindDialog(templateId)->caption)));
    script(user);
    if (IsWindow(user.dialog) && IsWindowVisible(user.dialog)) PostMessageW(user.dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    d.WaitGone(user.dialog);
  });
  const int result = view->RunModal(logic);  // a handler's exception leaves the driver to its destructor
  for (const auto& failure : driver.Finish()) ADD_FAILURE() << failure;
  return result;
}

// The dialog manager converts a control's position and size (not its right and bottom).
es::Rect Win32Pixels(IDialogView& view, es::Rect u) {
  RECT r{u.left, u.top, u.Width(), u.Height()};
  MapDialogRect(static_cast<HWND>(view.Handle()), &r);
  return es::Rect{r.left, r.top, r.left + r.right, r.top + r.bottom};
}

// What only the real controls do: the linguistic sort order (a hyphen is ignored, an
// underscore sorts before the letters), a wait cursor that nests, column widths and list
// styles, the results of sent messages, the folder browser.
TEST(Win32View, WhatOnlyTheRealControlsDo) {
  const estest::TempFolder folder{"win32ui-browse"};
  const std::wstring path = folder.root.wstring();
  std::optional<Str> chosen, cancelled = u"untouched";
  std::vector<Str> rows, entries;
  std::vector<bool> waiting;
  viewtest::Probe logic;
  logic.init = [&](IDialogView& v) {
    HWND list = GetDlgItem(static_cast<HWND>(v.Handle()), IDC_GROUP_LIST);
    v.InsertColumn(IDC_GROUP_LIST, 0, u"Group", es::kLvcfmtLeft, -1);
    v.SetColumnWidth(IDC_GROUP_LIST, 0, 123);
    EXPECT_EQ(123, ListView_GetColumnWidth(list, 0));
    v.AddListExtendedStyle(IDC_GROUP_LIST, es::kLvsExFullRowSelect);
    EXPECT_NE(0u, ListView_GetExtendedListViewStyle(list) & LVS_EX_FULLROWSELECT);
    for (bool on : {true, true, false, false}) {
      v.SetWaitCursor(on);
      waiting.push_back(GetCursor() == LoadCursorW(nullptr, IDC_WAIT));
    }
    for (const char16_t* text : {u"ab", u"b", u"a-c", u"a_z"}) {
      v.InsertItem(IDC_GROUP_LIST, text);
      v.AddString(IDC_STORAGE_COMBO, text);
    }
    for (int i = 0; i < 4; ++i) {
      rows.push_back(v.ItemText(IDC_GROUP_LIST, i, 0));
      entries.push_back(v.ComboText(IDC_STORAGE_COMBO, i));
    }
  };
  logic.message = [&](IDialogView& v, std::uint32_t m) -> std::intptr_t {
    if (m == es::kWmCommandHelp) return 55;
    if (m != WM_APP + 3) return 0;
    chosen = v.BrowseForFolder(Str(path.begin(), path.end()), u"Select Directory");
    cancelled = v.BrowseForFolder(u"", u"Select Directory");
    return 0;
  };
  LRESULT commandHelp = 0;
  RunWin32(IDD_SCAN, logic, [&](viewtest::User& user) {
    auto& u = static_cast<Win32User&>(user);
    u.PressF1();  // answered as handled
    commandHelp = SendMessageW(u.dialog, es::kWmCommandHelp, 0, 0);
    PostMessageW(u.dialog, WM_APP + 3, 0, 0);
    HWND browser = u.d.WaitDialog(L"", u.dialog);
    // The initial selection is made once the browser has initialised, after it shows; its
    // status line names the folder then. OK before that would return another folder.
    WindowDriver::Poll(10000, [&] { return WindowDriver::HasChildWithText(browser, path); });
    PostMessageW(browser, WM_COMMAND, IDOK, 0);
    u.d.WaitGone(browser);
    browser = u.d.WaitDialog(L"", u.dialog);
    PostMessageW(browser, WM_COMMAND, IDCANCEL, 0);
    u.d.WaitGone(browser);
  });
  EXPECT_EQ((std::vector<bool>{true, true, true, false}), waiting)
      << "set twice, the wait cursor stays until cleared twice";
  EXPECT_EQ((std::vector<Str>{u"a_z", u"ab", u"a-c", u"b"}), rows);
  EXPECT_EQ(rows, entries);
  EXPECT_EQ(55, commandHelp);
  ASSERT_TRUE(chosen.has_value());
  EXPECT_EQ(0, _wcsicmp(Wide(*chosen).c_str(), path.c_str())) << Wide(*chosen).size();
  EXPECT_FALSE(cancelled.has_value());
}

}  // namespace

std::vector<viewtest::ViewKind> viewtest::Kinds() { return {{"Win32", &RunWin32, &Win32Pixels}}; }
