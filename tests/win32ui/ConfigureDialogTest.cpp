// The configure and edit dialogs in real windows: registering, editing, removing storages
// and the two switches, driven with clicks and typed text; and the element's Configure
// from the host's call to the saved settings.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <variant>

#include "es/HostInterfaces.h"
#include "frame/Element.h"
#include "frame/VAVudiImplement.h"
#include "platform/Platform.h"
#include "resources/ResourceIds.h"
#include "tests/win32ui/WindowDriver.h"
#include "ui/DlgCfg.h"
#include "tests/support/TempFolder.h"

namespace {

namespace fs = std::filesystem;
using es::Str;
using es::StrArray;
using estest::WindowDriver;

constexpr wchar_t kConfigureCaption[] = L"Configure External Storage";
constexpr wchar_t kBoxCaption[] = L"External Storage Input";

Str U(const std::wstring& text) { return Str(text.begin(), text.end()); }

std::wstring Upper(std::wstring text) {
  CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

// Three storage folders: alpha and beta with a description, gamma without.
class Win32Configure : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"alpha", "beta", "gamma"}) fs::create_directories(root_ / name);
    std::ofstream(root_ / "alpha" / "ESDesc.txt") << "Alpha storage\r\nsecond line\r\n";
    std::ofstream(root_ / "beta" / "ESDesc.txt") << "Beta storage\r\n";
    alpha_ = (root_ / "alpha").wstring();
    beta_ = (root_ / "beta").wstring();
    gamma_ = (root_ / "gamma").wstring();
  }

  static void Check(WindowDriver& driver) {
    driver.Finish();
    for (const auto& failure : driver.Failures()) ADD_FAILURE() << failure;
  }

  estest::TempFolder temp_{"win32ui"};
  const fs::path root_ = temp_.root;
  std::wstring alpha_, beta_, gamma_;
};

TEST_F(Win32Configure, RegisterSwitchesAndSelectionAreTakenOverOnOk) {
  es::CDlgConfigure dialog(nullptr);
  dialog.registeredDirectories = {U(beta_), U(alpha_)};
  dialog.storageNames = {u"Beta storage", u"Alpha storage"};
  dialog.selectedDirectory = U(beta_);
  dialog.deleteImages = 1;
  dialog.deleteGroupFolder = 1;
  dialog.allowScan = false;

  WindowDriver driver([&](WindowDriver& d) {
    HWND dlg = d.WaitDialog(kConfigureCaption);
    // Start: rows sorted, the selected directory selected, names beside them.
    d.Expect(d.Rows(dlg, IDC_STORAGE_LIST) == 2, "two rows at start");
    d.Expect(d.Cell(dlg, IDC_STORAGE_LIST, 0, 0) == alpha_, "alpha sorts first");
    d.Expect(d.Cell(dlg, IDC_STORAGE_LIST, 0, 1) == L"Alpha storage", "alpha's name");
    d.Expect(d.SelectedRow(dlg, IDC_STORAGE_LIST) == 1, "beta is selected");
    d.Expect(d.Enabled(dlg, IDC_EDIT) && d.Enabled(dlg, IDC_REMOVE), "Edit and Remove enabled with a selection");
    d.Expect(d.Checked(dlg, IDC_DELETE_IMAGES) && d.Checked(dlg, IDC_DELETE_GROUP_FOLDER), "both switches on");
    // Without Scan & Close, Cancel takes its right edge.
    d.Expect(!d.Visible(dlg, IDC_SCAN), "Scan & Close hidden");
    RECT scan{}, cancel{};
    GetWindowRect(GetDlgItem(dlg, IDC_SCAN), &scan);
    GetWindowRect(GetDlgItem(dlg, IDCANCEL), &cancel);
    d.Expect(scan.right == cancel.right, "Cancel moved to the hidden button's right edge");

    d.Click(dlg, IDC_REGISTER);
    HWND edit = d.WaitDialog(L"Register External Storage");
    d.Expect(WindowDriver::Text(GetDlgItem(edit, IDC_DIRECTORY)).empty(), "empty directory when registering");
    d.SetText(edit, IDC_DIRECTORY, gamma_);
    d.Click(edit, IDOK);
    d.WaitGone(edit);
    const int gamma = d.FindRow(dlg, IDC_STORAGE_LIST, gamma_);
    d.Expect(gamma == 2, "gamma registered as the third row");
    d.Expect(d.Cell(dlg, IDC_STORAGE_LIST, gamma, 1) == L"<not found>", "gamma has no name");
    d.Expect(d.SelectedRow(dlg, IDC_STORAGE_LIST) == gamma, "the new row is selected");

    // Delete images off takes Delete Group Folder with it; on again leaves it off.
    d.ClickNow(dlg, IDC_DELETE_IMAGES);
    d.Expect(!d.Checked(dlg, IDC_DELETE_GROUP_FOLDER) && !d.Enabled(dlg, IDC_DELETE_GROUP_FOLDER),
             "Delete Group Folder off and disabled");
    d.ClickNow(dlg, IDC_DELETE_IMAGES);
    d.Expect(!d.Checked(dlg, IDC_DELETE_GROUP_FOLDER) && d.Enabled(dlg, IDC_DELETE_GROUP_FOLDER),
             "Delete Group Folder enabled again, still off");

    d.SelectRow(dlg, IDC_STORAGE_LIST, d.FindRow(dlg, IDC_STORAGE_LIST, alpha_));
    d.Click(dlg, IDOK);
    d.WaitGone(dlg);
  });
  EXPECT_EQ(dialog.DoModal(), es::kIdOk);
  Check(driver);
  EXPECT_EQ(dialog.registeredDirectories, (StrArray{U(alpha_), U(beta_), U(gamma_)}));
  EXPECT_EQ(dialog.selectedDirectory, U(alpha_));
  EXPECT_EQ(dialog.deleteImages, 1);
  EXPECT_EQ(dialog.deleteGroupFolder, 0);
}

TEST_F(Win32Configure, EditDialogRefusesInvalidAndDuplicateDirectories) {
  SetEnvironmentVariableW(L"ES_WIN32UI_ROOT", root_.wstring().c_str());
  es::CDlgConfigure dialog(nullptr);
  dialog.registeredDirectories = {U(alpha_), U(beta_)};
  dialog.storageNames = {u"Alpha storage", u"Beta storage"};

  std::vector<std::wstring> boxes;
  WindowDriver driver([&](WindowDriver& d) {
    HWND dlg = d.WaitDialog(kConfigureCaption);
    // Tries `text` in the edit dialog and answers the box its OK brings, if any.
    auto attempt = [&](HWND edit, const std::wstring& text) {
      d.SetText(edit, IDC_DIRECTORY, text);
      d.Click(edit, IDOK);
      std::wstring message;
      HWND box = d.WaitMessageBox(edit, kBoxCaption, &message);
      boxes.push_back(message);
      d.Answer(box, IDOK);
    };

    d.SelectRow(dlg, IDC_STORAGE_LIST, 1);
    d.Click(dlg, IDC_EDIT);
    HWND edit = d.WaitDialog(L"Edit External Storage");
    d.Expect(WindowDriver::Text(GetDlgItem(edit, IDC_DIRECTORY)) == beta_, "the row's directory to edit");
    attempt(edit, (root_ / "missing").wstring());
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(GetWindowThreadProcessId(edit, nullptr), &info);
    d.Expect(info.hwndFocus == GetDlgItem(edit, IDC_DIRECTORY), "focus back on the directory");
    attempt(edit, (root_ / "alpha" / "ESDesc.txt").wstring());  // a file
    attempt(edit, L"");
    attempt(edit, Upper(alpha_) + L"\\");                  // case and trailing separator
    attempt(edit, L"%ES_WIN32UI_ROOT%\\alpha");            // an environment reference
    d.SetText(edit, IDC_DIRECTORY, beta_ + L"\\");         // its own row is no duplicate
    d.Click(edit, IDOK);
    d.WaitGone(edit);
    d.Expect(d.Cell(dlg, IDC_STORAGE_LIST, 1, 0) == beta_ + L"\\", "the edited text as typed");
    d.Expect(d.SelectedRow(dlg, IDC_STORAGE_LIST) == 1, "the edited row is selected");

    // Registering through a reference keeps the reference.
    d.Click(dlg, IDC_REGISTER);
    edit = d.WaitDialog(L"Register External Storage");
    d.SetText(edit, IDC_DIRECTORY, L"%ES_WIN32UI_ROOT%\\gamma");
    d.Click(edit, IDOK);
    d.WaitGone(edit);

    // Editing and cancelling keeps the row and selects it.
    d.SelectRow(dlg, IDC_STORAGE_LIST, 0);
    d.Click(dlg, IDC_EDIT);
    edit = d.WaitDialog(L"Edit External Storage");
    d.SetText(edit, IDC_DIRECTORY, gamma_);
    d.Click(edit, IDCANCEL);
    d.WaitGone(edit);
    d.Click(dlg, IDOK);
    d.WaitGone(dlg);
  });
  EXPECT_EQ(dialog.DoModal(), es::kIdOk);
  Check(driver);
  EXPECT_EQ(boxes, (std::vector<std::wstring>{
                       L"A valid directory must be specified.", L"A valid directory must be specified.",
                       L"A valid directory must be specified.", L"This External Storage is already registered.",
                       L"This External Storage is already registered."}));
  ASSERT_EQ(dialog.registeredDirectories.size(), 3u);
  // The reference sorts before the paths ('%' before letters), and stays unexpanded.
  EXPECT_EQ(dialog.registeredDirectories[0], u"%ES_WIN32UI_ROOT%\\gamma");
  EXPECT_EQ(dialog.registeredDirectories[1], U(alpha_));
  EXPECT_EQ(dialog.registeredDirectories[2], U(beta_ + L"\\"));
  EXPECT_EQ(dialog.selectedDirectory, u"%ES_WIN32UI_ROOT%\\gamma");
  SetEnvironmentVariableW(L"ES_WIN32UI_ROOT", nullptr);
}

TEST_F(Win32Configure, RemoveAsksFirstAndAnEmptyListNeedsConfirmation) {
  es::CDlgConfigure dialog(nullptr);
  dialog.registeredDirectories = {U(alpha_), U(beta_)};
  dialog.storageNames = {u"Alpha storage", u"Beta storage"};
  dialog.allowScan = true;

  std::vector<std::wstring> boxes;
  WindowDriver driver([&](WindowDriver& d) {
    HWND dlg = d.WaitDialog(kConfigureCaption);
    d.Expect(d.Visible(dlg, IDC_SCAN), "Scan & Close shown");
    d.Expect(!d.Enabled(dlg, IDC_SCAN) && !d.Enabled(dlg, IDC_REMOVE), "nothing selected: buttons disabled");
    auto remove = [&](int answer) {
      d.Click(dlg, IDC_REMOVE);
      std::wstring message;
      HWND box = d.WaitMessageBox(dlg, kBoxCaption, &message);
      boxes.push_back(message);
      d.Expect(GetDlgItem(box, IDYES) != nullptr && GetDlgItem(box, IDNO) != nullptr, "a Yes/No question");
      d.Answer(box, answer);
    };
    d.SelectRow(dlg, IDC_STORAGE_LIST, 1);
    remove(IDNO);
    d.Expect(d.Rows(dlg, IDC_STORAGE_LIST) == 2, "No keeps the row");
    remove(IDYES);
    d.Expect(d.Rows(dlg, IDC_STORAGE_LIST) == 1, "Yes removes the row");
    d.Expect(d.SelectedRow(dlg, IDC_STORAGE_LIST) == 0, "the row above is selected");
    remove(IDYES);
    d.Expect(d.Rows(dlg, IDC_STORAGE_LIST) == 0, "the list is empty");
    d.Expect(!d.Enabled(dlg, IDC_EDIT) && !d.Enabled(dlg, IDC_REMOVE) && !d.Enabled(dlg, IDC_SCAN),
             "an empty list disables Edit, Remove and Scan & Close");

    for (int answer : {IDNO, IDYES}) {
      d.Click(dlg, IDOK);
      std::wstring message;
      HWND box = d.WaitMessageBox(dlg, kBoxCaption, &message);
      boxes.push_back(message);
      d.Answer(box, answer);
    }
    d.WaitGone(dlg);
  });
  EXPECT_EQ(dialog.DoModal(), es::kIdOk);
  Check(driver);
  const std::wstring ask = L"Do you want to remove registration of selected External Storage?";
  const std::wstring empty = L"No External Storage is registered. Do you want to close configuration dialog?";
  EXPECT_EQ(boxes, (std::vector<std::wstring>{ask, ask, ask, empty, empty}));
  EXPECT_TRUE(dialog.registeredDirectories.empty());
}

TEST_F(Win32Configure, ShrinksToTheWorkAreaAndTakesTheGivenCaption) {
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
  WindowDriver driver([&](WindowDriver& d) {
    HWND dlg = d.WaitDialog(L"Set up External Storage now");
    GetWindowRect(dlg, &window);
    auto client = [&](int id, RECT* r) {
      GetWindowRect(GetDlgItem(dlg, id), r);
      MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(r), 2);
    };
    client(IDC_STORAGE_LIST, &list);
    client(IDOK, &ok);
    client(IDC_REGISTER, &reg);
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    GetMonitorInfoW(MonitorFromWindow(dlg, MONITOR_DEFAULTTOPRIMARY), &info);
    work = info.rcWork;
    d.Click(dlg, IDCANCEL);
    d.WaitGone(dlg);
  });
  EXPECT_EQ(dialog.DoModal(), es::kIdCancel);
  Check(driver);
  EXPECT_FALSE(dialog.captionGiven);

  const int maxHeight = static_cast<int>((work.bottom - work.top) * 0.9);
  const int d = natural.window.Height() - maxHeight;
  std::printf("work area height %ld, template height %d\n", work.bottom - work.top, natural.window.Height());
  if (d > 0) {
    EXPECT_EQ(window.bottom - window.top, maxHeight);
    EXPECT_EQ(list.bottom, natural.list.bottom - d);
    EXPECT_EQ(list.top, natural.list.top);
    EXPECT_EQ(ok.top, natural.ok.top - d);
  } else {
    EXPECT_EQ(window.bottom - window.top, natural.window.Height());
    EXPECT_EQ(ok.top, natural.ok.top);
  }
  EXPECT_EQ(window.right - window.left, natural.window.Width());
  EXPECT_EQ(reg.top, natural.reg.top);  // the buttons at the top stay
}

// ---- The element's Configure, from the host's call to the saved settings --------------

// A settings store in memory, with the host's BSTR conventions.
class MemoryStore final : public ISettingsStore {
 public:
  using Value = std::variant<Str, std::int64_t, bool>;
  std::map<Str, Value> values;

  HResult QueryInterface(const EsGuid&, void**) override { return kE_NOTIMPL; }
  std::uint32_t AddRef() override { return ++refs; }
  std::uint32_t Release() override { return --refs; }
  HResult Reserved3() override { return kE_NOTIMPL; }
  HResult Reserved4() override { return kE_NOTIMPL; }
  HResult Reserved5() override { return kE_NOTIMPL; }
  HResult Reserved6() override { return kE_NOTIMPL; }
  HResult Reserved7() override { return kE_NOTIMPL; }
  HResult Reserved8() override { return kE_NOTIMPL; }
  HResult Reserved9() override { return kE_NOTIMPL; }
  HResult Reserved10() override { return kE_NOTIMPL; }
  HResult Reserved11() override { return kE_NOTIMPL; }
  HResult GetString(Bstr name, Bstr* value) override {
    const auto* v = Find<Str>(name);
    if (v == nullptr) return kE_FAIL;
    *value = es::platform::BstrAlloc(v->data(), v->size());
    return kS_OK;
  }
  HResult GetInteger(Bstr name, std::int64_t* value) override {
    const auto* v = Find<std::int64_t>(name);
    if (v == nullptr) return kE_FAIL;
    *value = *v;
    return kS_OK;
  }
  HResult Reserved14() override { return kE_NOTIMPL; }
  HResult GetBool(Bstr name, std::int16_t* value) override {
    const auto* v = Find<bool>(name);
    if (v == nullptr) return kE_FAIL;
    *value = *v ? -1 : 0;
    return kS_OK;
  }
  HResult Reserved16() override { return kE_NOTIMPL; }
  HResult SetString(Bstr name, Bstr value) override {
    values[Str(name)] = Str(value != nullptr ? value : u"");
    return kS_OK;
  }
  HResult SetInteger(Bstr name, std::int64_t value) override {
    values[Str(name)] = value;
    return kS_OK;
  }
  HResult Reserved19() override { return kE_NOTIMPL; }
  HResult SetBool(Bstr name, std::int16_t value) override {
    values[Str(name)] = value != 0;
    return kS_OK;
  }

  int refs = 0;

 private:
  template <typename T>
  const T* Find(Bstr name) const {
    auto it = values.find(Str(name));
    return it == values.end() ? nullptr : std::get_if<T>(&it->second);
  }
};

TEST_F(Win32Configure, ElementConfigureRegistersAndSavesThroughTheRealDialog) {
  IElementFactory* factory = nullptr;
  es::CreateImplements(1, &factory);
  ASSERT_NE(factory, nullptr);
  IElement* created = nullptr;
  ASSERT_EQ(static_cast<IElementFactoryScanning*>(factory)->CreateElement(&created), kS_OK);
  auto* element = static_cast<IElementScanning*>(created);

  MemoryStore loaded;
  loaded.values = {{u"AllowRescanning", true},  {u"DeleteFaxes", false},  {u"DeleteGroupFolder", false},
                   {u"SelectedPath", U(alpha_)}, {u"Number of dirs", std::int64_t{1}}, {u"Dir0", U(alpha_)}};
  element->LoadSettings(&loaded);

  WindowDriver driver([&](WindowDriver& d) {
    HWND dlg = d.WaitDialog(kConfigureCaption);
    d.Expect(d.Visible(dlg, IDC_SCAN), "allow-scan shows Scan & Close");
    d.Expect(!d.Enabled(dlg, IDC_DELETE_GROUP_FOLDER), "Delete Group Folder disabled with images kept");
    d.Click(dlg, IDC_REGISTER);
    HWND edit = d.WaitDialog(L"Register External Storage");
    d.SetText(edit, IDC_DIRECTORY, beta_);
    d.Click(edit, IDOK);
    d.WaitGone(edit);
    d.ClickNow(dlg, IDC_DELETE_IMAGES);
    d.ClickNow(dlg, IDC_DELETE_GROUP_FOLDER);
    d.Click(dlg, IDC_SCAN);  // the new row is selected, so Scan & Close is enabled
    d.WaitGone(dlg);
  });
  EXPECT_EQ(element->Configure(nullptr, true, nullptr, false), 15001);
  Check(driver);

  auto* impl = static_cast<es::CElement*>(element);
  EXPECT_EQ(impl->storageNames, (StrArray{u"Alpha storage", u"Beta storage"}));

  MemoryStore saved;
  EXPECT_EQ(element->SaveSettings(&saved), kS_OK);
  EXPECT_EQ(std::get<std::int64_t>(saved.values[u"Number of dirs"]), 2);
  EXPECT_EQ(std::get<Str>(saved.values[u"Dir0"]), U(alpha_));
  EXPECT_EQ(std::get<Str>(saved.values[u"Dir1"]), U(beta_));
  EXPECT_EQ(std::get<Str>(saved.values[u"SelectedPath"]), U(beta_));
  EXPECT_TRUE(std::get<bool>(saved.values[u"DeleteFaxes"]));
  EXPECT_TRUE(std::get<bool>(saved.values[u"DeleteGroupFolder"]));
  EXPECT_TRUE(std::get<bool>(saved.values[u"AllowRescanning"]));
  EXPECT_EQ(saved.refs, 0);

  // Cancelled: nothing changes and the result is 1.
  WindowDriver cancel([&](WindowDriver& d) {
    HWND dlg = d.WaitDialog(L"Choose External Storage");
    d.ClickNow(dlg, IDC_DELETE_IMAGES);
    d.Click(dlg, IDCANCEL);
    d.WaitGone(dlg);
  });
  EXPECT_EQ(element->Configure(nullptr, false, u"Choose %s", true), 1);
  Check(cancel);
  EXPECT_EQ(impl->DeleteFaxes, 1);
  EXPECT_EQ(impl->directories.size(), 2u);

  created->DeleteThis();
  factory->DeleteThis();
}

}  // namespace
