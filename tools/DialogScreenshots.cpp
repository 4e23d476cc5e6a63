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

// Sample storages and their groups, as a producer leaves them. Only what was created here
// is removed again, newest first: a folder that existed before stays untouched.
struct SampleStorages {
  std::vector<fs::path> created;
  ~SampleStorages() {
    std::error_code ignored;
    for (auto it = created.rbegin(); it != created.rend(); ++it) fs::remove(*it, ignored);
  }
  // A folder holding, when `text` is given, `file` (ESDesc.txt or the group's lock file)
  // with `text`, and `documents` empty document folders (the scan dialog only counts them).
  fs::path Add(const fs::path& dir, const char* text = nullptr, const std::u16string& file = u"ESDesc.txt",
               int documents = 0) {
    std::error_code error;
    if (!fs::create_directory(dir, error)) return dir;
    created.push_back(dir);
    if (text != nullptr && std::ofstream(dir / file, std::ios::binary) << text << "\r\n") created.push_back(dir / file);
    for (int d = 1; d <= documents; ++d) Add(dir / ("Doc" + std::to_string(d)));
    return dir;
  }
};

// Holds the dialog `run` shows (captioned `caption`; readied by `prepare` when given) open
// until the picture is taken, then cancels it; whether it was shown.
bool Show(const fs::path& handshake, const std::string& name, const std::wstring& caption,
          const std::function<void(estest::WindowDriver&, HWND)>& prepare, const std::function<void()>& run) {
  estest::WindowDriver driver([&](estest::WindowDriver& d) {
    HWND dialog = d.WaitDialog(caption, nullptr, 30000);
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
  run();
  const std::vector<std::string> failures = driver.Finish();
  for (const auto& failure : failures) std::fprintf(stderr, "%s: %s\n", name.c_str(), failure.c_str());
  return failures.empty();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: dialog_screenshots <handshake folder>\n");
    return 2;
  }
  const fs::path handshake = argv[1];
  // Short folder names, as a site would register them, so that the columns show them whole.
  SampleStorages samples;
  const fs::path root = samples.Add(L"C:\\Storages"), incoming = samples.Add(root / "Incoming", "Incoming mail"),
                 invoices = samples.Add(root / "Invoices", "Supplier invoices");
  const es::StrArray registered{invoices.u16string(), incoming.u16string()},
      names{u"Supplier invoices", u"Incoming mail"};

  bool shown = Show(handshake, "configure", L"Configure External Storage", nullptr, [&] {
    es::CDlgConfigure configure(nullptr);
    configure.registeredDirectories = registered;
    configure.storageNames = names;
    configure.selectedDirectory = invoices.u16string();
    configure.deleteImages = 1;  // Delete Group Folder stays off
    configure.allowScan = true;
    configure.DoModal();
  });
  shown &= Show(handshake, "edit", L"Edit External Storage", nullptr,
                [&] { es::CEditESDlg(es::ListRef{}, incoming.u16string(), std::nullopt, 0, nullptr).DoModal(); });
  for (auto [folder, name, documents] : {std::tuple{"Scanner1-0417", "Morning post", 12}, {"Scanner2-0417", "Contracts", 3},
                                         {"Scanner1-0418", "Returns", 5}, {"Scanner3-0418", "Applications", 8}})
    samples.Add(incoming / folder, name, es::layout::kLockFile, documents);
  const auto counted = [](estest::WindowDriver& d, HWND dlg) {
    // The counts arrive from the counting thread; until then a row shows "?".
    estest::WindowDriver::Poll(30000, [&] {
      bool counted = d.Rows(dlg, IDC_GROUP_LIST) == 4;
      for (int row = 0; counted && row < 4; ++row) counted = d.Cell(dlg, IDC_GROUP_LIST, row, 1) != L"?";
      return counted;
    });
    d.SelectRow(dlg, IDC_GROUP_LIST, d.FindRow(dlg, IDC_GROUP_LIST, L"Contracts"));
  };
  shown &= Show(handshake, "scan", L"Scan from External Storage", counted, [&] {
    es::CDlgScan scan(nullptr);
    scan.registeredDirectories = registered;
    scan.storageNames = names;
    scan.preselectedDirectory = incoming.u16string();
    scan.DoModal();
  });
  return shown ? 0 : 1;
}
