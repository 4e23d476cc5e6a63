// Opens each dialog of the module in its real window, one after the other, and holds it
// open while scripts/screenshots.sh captures the screen:
//   dialog_screenshots.exe <handshake folder>
// For each dialog it writes "<name>.ready" into the folder, holding the window's screen
// rectangle as "left top width height", waits for "<name>.done" (written once the
// picture is taken), then cancels the dialog. Exit code 0 when every dialog was shown.
#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "resources/ResourceIds.h"
#include "tests/win32ui/WindowDriver.h"
#include "storage/Layout.h"
#include "ui/DlgCfg.h"
#include "ui/DlgScan.h"
#include "ui/EditESDlg.h"

namespace {

namespace fs = std::filesystem;
using es::Str;

Str U(const std::wstring& text) { return Str(text.begin(), text.end()); }

// Sample storages and their groups, as a producer leaves them. Only what was created here
// is removed again: a folder that existed before stays untouched.
class SampleStorages {
 public:
  explicit SampleStorages(fs::path root) : root_(std::move(root)) { Create(root_); }
  ~SampleStorages() {
    std::error_code ignored;
    for (auto it = created_.rbegin(); it != created_.rend(); ++it) fs::remove(*it, ignored);
  }
  // A folder holding `file` (ESDesc.txt or the group's lock file) with `text`, and
  // `documents` empty document folders (the scan dialog only counts them).
  std::wstring Add(const fs::path& dir, const std::u16string& file, const char* text, int documents = 0) {
    if (!Create(dir)) return dir.wstring();
    std::ofstream(dir / file, std::ios::binary) << text << "\r\n";
    created_.push_back(dir / file);
    for (int d = 1; d <= documents; ++d) Create(dir / ("Doc" + std::to_string(d)));
    return dir.wstring();
  }
  std::wstring Add(const char* folder, const char* name) { return Add(root_ / folder, u"ESDesc.txt", name); }

 private:
  bool Create(const fs::path& dir) {
    std::error_code error;
    if (!fs::create_directory(dir, error)) return false;
    created_.push_back(dir);
    return true;
  }
  fs::path root_;
  std::vector<fs::path> created_;
};

// Holds the dialog with `caption` open until the picture is taken, then cancels it.
// Started before the dialog runs; `Finish` once the dialog has returned.
// `prepare`, when given, readies the dialog for the picture (waits for its contents).
std::unique_ptr<estest::WindowDriver> Present(const fs::path& handshake, const std::string& name,
                                              const std::wstring& caption,
                                              std::function<void(estest::WindowDriver&, HWND)> prepare = nullptr) {
  return std::make_unique<estest::WindowDriver>([=](estest::WindowDriver& d) {
    HWND dialog = d.WaitDialog(caption, 30000);
    if (prepare) prepare(d, dialog);
    // Started from a console, the first window need not be the active one.
    SetForegroundWindow(dialog);
    // Without a window manager, X's focus follows the pointer, and Wine may paint the
    // frame of the window under it as inactive although it is the foreground window.
    if (GetForegroundWindow() == dialog) SendMessageW(dialog, WM_NCACTIVATE, TRUE, 0);
    Sleep(500);  // let the window finish painting
    RECT r{};
    GetWindowRect(dialog, &r);
    std::ofstream(handshake / (name + ".ready.tmp"))
        << r.left << ' ' << r.top << ' ' << (r.right - r.left) << ' ' << (r.bottom - r.top) << '\n';
    fs::rename(handshake / (name + ".ready.tmp"), handshake / (name + ".ready"));
    estest::WindowDriver::Poll(60000, [&] { return fs::exists(handshake / (name + ".done")); });
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    d.WaitGone(dialog);
  });
}

bool Finished(estest::WindowDriver& driver, const char* name) {
  driver.Finish();
  for (const auto& failure : driver.Failures()) std::fprintf(stderr, "%s: %s\n", name, failure.c_str());
  return driver.Failures().empty();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: dialog_screenshots <handshake folder>\n");
    return 2;
  }
  const fs::path handshake = argv[1];
  // Short folder names, as a site would register them, so that the columns show them whole.
  SampleStorages samples(L"C:\\Storages");
  const std::wstring incoming = samples.Add("Incoming", "Incoming mail");
  const std::wstring invoices = samples.Add("Invoices", "Supplier invoices");
  bool shown = true;

  {
    es::CDlgConfigure configure(nullptr);
    configure.registeredDirectories = {U(invoices), U(incoming)};
    configure.storageNames = {u"Supplier invoices", u"Incoming mail"};
    configure.selectedDirectory = U(invoices);
    configure.deleteImages = 1;
    configure.deleteGroupFolder = 0;
    configure.allowScan = true;
    auto driver = Present(handshake, "configure", L"Configure External Storage");
    configure.DoModal();
    shown = Finished(*driver, "configure") && shown;
  }
  {
    es::CEditESDlg edit(es::ListRef{}, U(incoming), std::nullopt, 0, nullptr);
    auto driver = Present(handshake, "edit", L"Edit External Storage");
    edit.DoModal();
    shown = Finished(*driver, "edit") && shown;
  }
  {
    for (auto [folder, name, documents] : {std::tuple{"Scanner1-0417", "Morning post", 12}, {"Scanner2-0417", "Contracts", 3},
                                           {"Scanner1-0418", "Returns", 5}, {"Scanner3-0418", "Applications", 8}})
      samples.Add(fs::path(incoming) / folder, es::layout::kLockFile, name, documents);
    es::CDlgScan scan(nullptr);
    scan.registeredDirectories = {U(invoices), U(incoming)};
    scan.storageNames = {u"Supplier invoices", u"Incoming mail"};
    scan.preselectedDirectory = U(incoming);
    auto driver = Present(handshake, "scan", L"Scan from External Storage", [](estest::WindowDriver& d, HWND dlg) {
      // The counts arrive from the counting thread; until then a row shows "?".
      estest::WindowDriver::Poll(30000, [&] {
        bool counted = d.Rows(dlg, IDC_GROUP_LIST) == 4;
        for (int row = 0; counted && row < 4; ++row) counted = d.Cell(dlg, IDC_GROUP_LIST, row, 1) != L"?";
        return counted;
      });
      d.SelectRow(dlg, IDC_GROUP_LIST, d.FindRow(dlg, IDC_GROUP_LIST, L"Contracts"));
    });
    scan.DoModal();
    shown = Finished(*driver, "scan") && shown;
  }
  return shown ? 0 : 1;
}
