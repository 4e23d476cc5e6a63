// The module's dialogs in real windows: their templates, controls and message boxes are
// wired to the dialog logic (whose rules the headless tests prove), the configure dialog
// shrinks to the work area (600 pixels high here), and the element's Configure and Scan
// run them by default.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "resources/ResourceIds.h"
#include "tests/import/ImportFixture.h"
#include "tests/win32ui/WindowDriver.h"
#include "ui/DlgCfg.h"

namespace {

using es::Str;
using es::StrArray;
using estest::WindowDriver;

constexpr wchar_t kConfigure[] = L"Configure External Storage";
constexpr wchar_t kBox[] = L"External Storage Input";

Str U(const std::wstring& text) { return Str(text.begin(), text.end()); }

// Runs `run` on this thread while `script` drives its dialogs from another.
template <typename F>
auto Driven(WindowDriver::Script script, F run) {
  WindowDriver driver(std::move(script));
  auto result = run();
  driver.Finish();
  for (const auto& failure : driver.Failures()) ADD_FAILURE() << failure;
  return result;
}

class RealDialogs : public ::testing::Test {
 protected:
  RealDialogs() {
    temp.Write("alpha/ESDesc.txt", "Alpha storage\r\nsecond line\r\n");
    temp.Write("beta/ESDesc.txt", "Beta storage\r\n");
    std::filesystem::create_directories(temp / "gamma");
  }
  std::wstring Dir(const char* name) const { return (temp.root / name).wstring(); }
  estest::TempFolder temp{"win32ui"};
};

TEST_F(RealDialogs, ConfigureAndEditDialogsShowTheirControlsBoxesAndNestedDialog) {
  const std::wstring alpha = Dir("alpha"), beta = Dir("beta"), gamma = Dir("gamma");
  es::CDlgConfigure dialog(nullptr);
  dialog.registeredDirectories = {U(beta), U(alpha)};
  dialog.storageNames = {u"Beta storage", u"Alpha storage"};
  dialog.selectedDirectory = U(beta);
  dialog.deleteImages = dialog.deleteGroupFolder = 1;
  dialog.allowScan = false;
  std::vector<std::wstring> boxes;
  const int result = Driven(
      [&](WindowDriver& d) {
        HWND dlg = d.WaitDialog(kConfigure);
        d.Expect(d.Rows(dlg, IDC_STORAGE_LIST) == 2 && d.Cell(dlg, IDC_STORAGE_LIST, 0, 0) == alpha &&
                     d.Cell(dlg, IDC_STORAGE_LIST, 0, 1) == L"Alpha storage",
                 "rows sorted, with their names");
        d.Expect(d.SelectedRow(dlg, IDC_STORAGE_LIST) == 1, "beta is selected");
        d.Expect(d.Checked(dlg, IDC_DELETE_IMAGES) && d.Checked(dlg, IDC_DELETE_GROUP_FOLDER), "both switches on");
        d.Expect(!d.Visible(dlg, IDC_SCAN), "Scan hidden");
        // Answers the box that OK of `dlg` with `text` brings, keeping its text.
        auto refused = [&](HWND edit, const std::wstring& text) {
          d.SetText(edit, IDC_DIRECTORY, text);
          d.Click(edit, IDOK);
          boxes.emplace_back();
          d.Answer(d.WaitMessageBox(edit, kBox, &boxes.back()), IDOK);
        };
        d.Click(dlg, IDC_REGISTER);
        HWND edit = d.WaitDialog(L"Register External Storage");
        d.Expect(WindowDriver::Text(GetDlgItem(edit, IDC_DIRECTORY)).empty(), "nothing to edit when registering");
        refused(edit, Dir("missing"));
        d.Expect(WindowDriver::Focus(edit) == GetDlgItem(edit, IDC_DIRECTORY), "focus back on the directory");
        refused(edit, alpha + L"\\");
        d.SetText(edit, IDC_DIRECTORY, gamma);
        d.Click(edit, IDOK);
        d.WaitGone(edit);
        const int row = d.FindRow(dlg, IDC_STORAGE_LIST, gamma);
        d.Expect(row == 2 && d.Cell(dlg, IDC_STORAGE_LIST, row, 1) == L"<not found>", "gamma is the third row");
        d.Expect(d.SelectedRow(dlg, IDC_STORAGE_LIST) == row, "the new row is selected");
        d.ClickNow(dlg, IDC_DELETE_IMAGES);  // takes Delete Group Folder with it: both 0 below
        d.SelectRow(dlg, IDC_STORAGE_LIST, 1);
        d.Click(dlg, IDC_REMOVE);
        HWND box = d.WaitMessageBox(dlg, kBox, nullptr);
        d.Expect(GetDlgItem(box, IDYES) != nullptr && GetDlgItem(box, IDNO) != nullptr, "Remove asks Yes or No");
        d.Answer(box, IDYES);
        d.SelectRow(dlg, IDC_STORAGE_LIST, 0);
        d.Click(dlg, IDOK);
        d.WaitGone(dlg);
      },
      [&] { return dialog.DoModal(); });
  EXPECT_EQ(es::kIdOk, result);
  EXPECT_EQ((std::vector<std::wstring>{L"A valid directory must be specified.",
                                       L"This External Storage is already registered."}),
            boxes);
  EXPECT_EQ((StrArray{U(alpha), U(gamma)}), dialog.registeredDirectories);
  EXPECT_EQ(U(alpha), dialog.selectedDirectory);
  EXPECT_EQ((std::vector<int>{0, 0}), (std::vector<int>{dialog.deleteImages, dialog.deleteGroupFolder}));
}

TEST_F(RealDialogs, ConfigureShrinksToTheWorkAreaAndTakesTheGivenCaption) {
  // The template's own size on this display, from a plain run of the template.
  struct Natural : es::CDialogLogic {
    es::Rect window, list, ok, reg;
    bool OnInitDialog() override {
      window = View().WindowRect();
      list = View().ControlRect(IDC_STORAGE_LIST);
      ok = View().ControlRect(es::kIdOk);
      reg = View().ControlRect(IDC_REGISTER);
      View().EndDialog(1);
      return true;
    }
  } natural;
  es::CreateWin32View(nullptr, IDD_CONFIGURE)->RunModal(natural);

  es::CDlgConfigure dialog(nullptr);
  dialog.captionGiven = true;
  dialog.captionFormat = u"Set up %s now";
  RECT window{}, list{}, ok{}, reg{}, work{};
  EXPECT_EQ(es::kIdCancel, Driven(
                               [&](WindowDriver& d) {
                                 HWND dlg = d.WaitDialog(L"Set up External Storage now");
                                 GetWindowRect(dlg, &window);
                                 for (auto [id, r] : {std::pair{IDC_STORAGE_LIST, &list}, {IDOK, &ok}, {IDC_REGISTER, &reg}}) {
                                   GetWindowRect(GetDlgItem(dlg, id), r);
                                   MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(r), 2);
                                 }
                                 MONITORINFO info{};
                                 info.cbSize = sizeof(info);
                                 GetMonitorInfoW(MonitorFromWindow(dlg, MONITOR_DEFAULTTOPRIMARY), &info);
                                 work = info.rcWork;
                                 d.Click(dlg, IDCANCEL);
                                 d.WaitGone(dlg);
                               },
                               [&] { return dialog.DoModal(); }));
  const int maxHeight = static_cast<int>((work.bottom - work.top) * 0.9);
  const int d = std::max(0, natural.window.Height() - maxHeight);
  std::printf("work area height %ld, template height %d\n", work.bottom - work.top, natural.window.Height());
  EXPECT_GT(d, 0) << "the display is meant to be too low for the dialog";
  EXPECT_EQ(natural.window.Height() - d, window.bottom - window.top);
  EXPECT_EQ(natural.window.Width(), window.right - window.left);
  EXPECT_EQ((es::Rect{natural.list.left, natural.list.top, natural.list.right, natural.list.bottom - d}),
            (es::Rect{list.left, list.top, list.right, list.bottom}));
  EXPECT_EQ(natural.ok.top - d, ok.top);
  EXPECT_EQ(natural.reg.top, reg.top);  // the buttons at the top stay
}

// Three groups of two one-page documents; the folder names sort the other way round from
// the group names, so that the list's order is not the folders' order.
TEST_F(RealDialogs, TheElementsConfigureAndScanRunTheRealDialogs) {
  esproduce::StoragePlan plan;
  for (const auto& [folder, group] : {std::pair{"G3", "Alpha"}, {"G2", "Beta"}, {"G1", "Gamma"}}) {
    const std::string name = group;
    plan.groups.push_back(estest::MakeGroup(folder, {estest::NamedDocument(name + "1", 1), estest::NamedDocument(name + "2", 1)},
                                            std::vector<std::string>{name + "1", name + "2"}));
    plan.groups.back().lockText = name + "\r\n";
  }
  std::string error;
  ASSERT_TRUE(esproduce::WriteStorage(temp.root / "store", plan, &error)) << error;
  const Str store = U(Dir("store"));
  estest::ElementHolder holder{false, false};
  es::CElement& element = *holder.element;
  element.directories = {U(Dir("alpha"))};
  element.RebuildStorageNames();

  EXPECT_EQ(15001, Driven(
                       [&](WindowDriver& d) {
                         HWND dlg = d.WaitDialog(L"Choose External Storage");
                         d.Click(dlg, IDC_REGISTER);
                         HWND edit = d.WaitDialog(L"Register External Storage");
                         d.SetText(edit, IDC_DIRECTORY, Dir("store"));
                         d.Click(edit, IDOK);
                         d.WaitGone(edit);
                         d.ClickNow(dlg, IDC_DELETE_IMAGES);
                         d.Click(dlg, IDC_SCAN);  // the new row is selected
                         d.WaitGone(dlg);
                       },
                       [&] { return element.Configure(nullptr, true, u"Choose %s", true); }));
  EXPECT_EQ((StrArray{U(Dir("alpha")), store}), element.directories);
  EXPECT_EQ((StrArray{u"Alpha storage", u""}), element.storageNames);
  EXPECT_EQ(store, element.SelectedPath);
  EXPECT_EQ(1, element.DeleteFaxes);

  estest::RecordingCallback callback;
  callback.unattended = false;
  element.DeleteFaxes = 0;
  std::vector<std::wstring> rows;
  EXPECT_EQ(1, Driven(
                   [&](WindowDriver& d) {
                     HWND dlg = d.WaitDialog(L"Scan from External Storage");
                     // The counts come from the worker; until then a row shows "?".
                     WindowDriver::Poll(15000, [&] {
                       rows.clear();
                       for (int r = 0; r < d.Rows(dlg, IDC_GROUP_LIST); ++r) {
                         const std::wstring count = d.Cell(dlg, IDC_GROUP_LIST, r, 1);
                         if (count.empty() || count == L"?") break;
                         rows.push_back(d.Cell(dlg, IDC_GROUP_LIST, r, 0) + L" " + count);
                       }
                       return rows.size() == 3;
                     });
                     // Gamma first, then Alpha: the order of selecting does not decide the import's.
                     LVITEMW item{};
                     item.stateMask = item.state = LVIS_SELECTED;
                     for (const wchar_t* name : {L"Gamma", L"Alpha"})
                       SendMessageW(GetDlgItem(dlg, IDC_GROUP_LIST), LVM_SETITEMSTATE, d.FindRow(dlg, IDC_GROUP_LIST, name),
                                    reinterpret_cast<LPARAM>(&item));
                     WindowDriver::Poll(5000, [&] { return d.Enabled(dlg, IDC_SCAN); });
                     d.Click(dlg, IDC_SCAN);
                     d.WaitGone(dlg, 15000);
                   },
                   [&] { return element.Scan(nullptr, 0, &callback); }));
  EXPECT_EQ((std::vector<std::wstring>{L"Alpha 2", L"Beta 2", L"Gamma 2"}), rows);
  EXPECT_EQ((std::vector<std::u16string>{u"Alpha1/p1", u"Alpha2/p1", u"Gamma1/p1", u"Gamma2/p1"}), callback.AcceptedIds());
  EXPECT_TRUE(std::filesystem::exists(temp.root / "store" / "G2" / "Beta1"));
}

}  // namespace
