// The module's dialogs in real windows: their controls and message boxes are wired to the
// dialog logic (whose rules the headless tests prove), the configure dialog fits the work
// area (600 pixels high here), and the element's Configure and Scan run them by default.
#include <windows.h>

#include <gtest/gtest.h>

#include "resources/ResourceIds.h"
#include "tests/import/ImportFixture.h"
#include "tests/win32ui/WindowDriver.h"

namespace {

using es::StrArray;
using estest::WindowDriver;

// Runs `run` on this thread while `script` drives its dialogs from another.
template <typename F>
auto Driven(WindowDriver::Script script, F run) {
  WindowDriver driver(std::move(script));
  auto result = run();
  for (const auto& failure : driver.Finish()) ADD_FAILURE() << failure;
  return result;
}

// The storage registered here: three groups of two one-page documents whose folders sort
// the other way round from their names, so that the list's order is not the folders'.
TEST(RealDialogs, TheElementsConfigureAndScanRunTheRealDialogsFittedToTheWorkArea) {
  estest::TempFolder temp{"win32ui"};
  temp.Write("alpha/ESDesc.txt", "Alpha storage\r\nsecond line\r\n");
  temp.Write("beta/ESDesc.txt", "Beta storage\r\n");
  esproduce::StoragePlan plan;
  for (const auto& [folder, group] : {std::pair{"G3", "Alpha"}, {"G2", "Beta"}, {"G1", "Gamma"}}) {
    const std::string name = group;
    plan.groups.push_back(
        estest::MakeGroup(folder, {estest::NamedDocument(name + "1", 1), estest::NamedDocument(name + "2", 1)},
                          std::vector<std::string>{name + "1", name + "2"}));
    plan.groups.back().lockText = name + "\r\n";
  }
  std::string error;
  ASSERT_TRUE(esproduce::WriteStorage(temp.root / "store", plan, &error)) << error;
  estest::ElementHolder holder{true, true};
  es::CElement& element = *holder.element;
  element.directories = {temp.Path("beta"), temp.Path("alpha")};
  element.RebuildStorageNames();
  element.SelectedPath = temp.Path("beta");

  // The configure dialog is shrunk to ninety percent of the work area (where the list and
  // the buttons below it go is the headless dialog test's).
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const std::wstring fitted = std::to_wstring(static_cast<long>((work.bottom - work.top) * 0.9)) + L" pixels high";
  std::vector<std::wstring> seen;  // what the user saw, in order
  // The storage list as "<folder> <name>" rows, the selected one marked '*', then the switches that are on.
  const auto look = [&](WindowDriver& d, HWND dlg) {
    std::wstring shown;
    for (int r = 0; r < d.Rows(dlg, IDC_STORAGE_LIST); ++r)
      shown += (r == d.SelectedRow(dlg, IDC_STORAGE_LIST) ? L"*" : L"") +
               std::filesystem::path(d.Cell(dlg, IDC_STORAGE_LIST, r, 0)).lexically_relative(temp.root).wstring() +
               L" " + d.Cell(dlg, IDC_STORAGE_LIST, r, 1) + L", ";
    seen.push_back(shown + (IsDlgButtonChecked(dlg, IDC_DELETE_IMAGES) ? L"images " : L"") +
                   (IsDlgButtonChecked(dlg, IDC_DELETE_GROUP_FOLDER) ? L"group folder" : L""));
  };
  const auto configure = [&](WindowDriver& d) {
    HWND dlg = d.WaitDialog(L"Choose External Storage");
    RECT window{};
    GetWindowRect(dlg, &window);
    seen.push_back(std::to_wstring(window.bottom - window.top) + L" pixels high");
    look(d, dlg);
    d.Click(dlg, IDC_REGISTER);
    HWND edit = d.WaitDialog(L"Register External Storage"), directory = GetDlgItem(edit, IDC_DIRECTORY);
    seen.push_back(L"register '" + WindowDriver::Text(directory) + L"'");
    // Answers the box that OK with `text` brings; what it said.
    const auto refused = [&](const std::wstring& text) {
      SetDlgItemTextW(edit, IDC_DIRECTORY, text.c_str());
      d.Click(edit, IDOK);
      HWND box = d.WaitDialog(L"External Storage Input", edit);
      seen.push_back(WindowDriver::Text(GetDlgItem(box, 0xFFFF)));
      d.Answer(box, IDOK);
    };
    refused((temp / "missing").wstring());
    // The focus is set after the box has gone, when the handler goes on: no message orders that.
    if (WindowDriver::Poll(2000, [&] { return WindowDriver::Focus(edit) == directory; }))
      seen.back() += L" Focus back on the directory.";
    refused((temp / "alpha\\").wstring());
    SetDlgItemTextW(edit, IDC_DIRECTORY, (temp / "store").c_str());
    d.Click(edit, IDOK);
    d.WaitGone(edit);
    look(d, dlg);
    d.ClickNow(dlg, IDC_DELETE_IMAGES);  // takes Delete Group Folder with it: both 0 below
    d.SelectRow(dlg, IDC_STORAGE_LIST, 0);
    d.Click(dlg, IDC_REMOVE);
    HWND box = d.WaitDialog(L"External Storage Input", dlg);
    seen.push_back(GetDlgItem(box, IDYES) && GetDlgItem(box, IDNO) ? L"Remove asks Yes or No" : L"Remove asks");
    d.Answer(box, IDYES);
    look(d, dlg);
    d.SelectRow(dlg, IDC_STORAGE_LIST, 1);  // the store: Remove selected the row that took alpha's place
    d.Click(dlg, IDC_SCAN);
    d.WaitGone(dlg);
  };
  EXPECT_EQ(15001, Driven(configure, [&] { return element.Configure(nullptr, true, u"Choose %s", true); }));
  EXPECT_EQ(
      (std::vector<std::wstring>{fitted, L"alpha Alpha storage, *beta Beta storage, images group folder",
                                 L"register ''", L"A valid directory must be specified. Focus back on the directory.",
                                 L"This External Storage is already registered.",
                                 L"alpha Alpha storage, beta Beta storage, *store <not found>, images group folder",
                                 L"Remove asks Yes or No", L"*beta Beta storage, store <not found>, "}),
      seen);
  EXPECT_EQ((StrArray{temp.Path("beta"), temp.Path("store")}), element.directories);
  EXPECT_EQ((StrArray{u"Beta storage", u""}), element.storageNames);
  EXPECT_EQ(temp.Path("store"), element.SelectedPath);
  EXPECT_EQ((std::vector<int>{0, 0}), (std::vector<int>{element.DeleteFaxes, element.DeleteGroupFolder}));

  estest::RecordingCallback callback;
  callback.unattended = false;
  const std::vector<std::wstring> counted{L"Alpha 2", L"Beta 2", L"Gamma 2"};
  std::vector<std::wstring> rows;
  const auto scan = [&](WindowDriver& d) {
    HWND dlg = d.WaitDialog(L"Scan from External Storage");
    // The counts come from the worker; until then a row shows "?".
    WindowDriver::Poll(15000, [&] {
      rows.clear();
      for (int r = 0; r < d.Rows(dlg, IDC_GROUP_LIST); ++r)
        rows.push_back(d.Cell(dlg, IDC_GROUP_LIST, r, 0) + L" " + d.Cell(dlg, IDC_GROUP_LIST, r, 1));
      return rows == counted;
    });
    // Gamma first, then Alpha: the order of selecting does not decide the import's.
    for (const wchar_t* name : {L"Gamma", L"Alpha"})
      d.SelectRow(dlg, IDC_GROUP_LIST, d.FindRow(dlg, IDC_GROUP_LIST, name));
    WindowDriver::Poll(5000, [&] { return IsWindowEnabled(GetDlgItem(dlg, IDC_SCAN)); });
    d.Click(dlg, IDC_SCAN);
    d.WaitGone(dlg, 15000);
  };
  EXPECT_EQ(1, Driven(scan, [&] { return element.Scan(nullptr, 0, &callback); }));
  EXPECT_EQ(counted, rows);
  EXPECT_EQ((std::vector<std::u16string>{u"Alpha1/p1", u"Alpha2/p1", u"Gamma1/p1", u"Gamma2/p1"}),
            callback.AcceptedIds());
  EXPECT_TRUE(std::filesystem::exists(temp.root / "store" / "G2" / "Beta1"));
}

}  // namespace
