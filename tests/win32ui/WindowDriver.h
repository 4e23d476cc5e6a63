// Drives the real dialogs running modally on the test's thread from a second thread, with
// the window messages a user's clicks and keys would produce. Clicks that open a nested
// modal loop (another dialog, a message box) are posted, so that the script is not held
// inside it; everything else is sent. A script that cannot find what it waits for records
// the failure and cancels every dialog still open, so that the test fails, not hangs.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace estest {

class WindowDriver {
 public:
  using Script = std::function<void(WindowDriver&)>;

  // Starts `script` at once on its own thread; the dialogs it drives belong to the
  // calling thread.
  explicit WindowDriver(Script script) : uiThread_(GetCurrentThreadId()) {
    thread_ = std::thread([this, script = std::move(script)] {
      try {
        script(*this);
      } catch (const Abort&) {
      } catch (...) {
        Record("script threw");
      }
      Rescue();  // whatever the script left open
    });
  }
  ~WindowDriver() { Finish(); }

  // Call once the modal run has returned: ends the script (or its rescue), waits, and
  // returns what the script found wrong.
  std::vector<std::string> Finish() {
    finished_ = true;
    if (thread_.joinable()) thread_.join();
    return failures_;
  }

  // A dialog (also a message box, a folder browser) among the UI thread's visible, enabled
  // top-level windows (the enabled one is the top dialog when dialogs are nested), with
  // `caption` unless that is empty, owned by `owner` when one is given.
  HWND WaitDialog(const std::wstring& caption, HWND owner = nullptr, int timeoutMs = 10000) {
    return Wait(timeoutMs, "no dialog \"" + Narrow(caption) + "\" (owner \"" + Narrow(Text(owner)) + "\") appeared",
                [&](HWND w) {
                  return IsDialog(w) && (caption.empty() || Text(w) == caption) &&
                         (owner == nullptr || GetWindow(w, GW_OWNER) == owner);
                });
  }
  void WaitGone(HWND window, int timeoutMs = 10000) {
    if (!Poll(timeoutMs, [&] { return !IsWindow(window); })) Fail("window \"" + Narrow(Text(window)) + "\" stayed");
  }
  // Whether any descendant of `parent` shows `text` (compared without regard to case).
  static bool HasChildWithText(HWND parent, const std::wstring& text) {
    Found found{[&](HWND w) { return _wcsicmp(Text(w).c_str(), text.c_str()) == 0; }};
    EnumChildWindows(parent, Found::Next, reinterpret_cast<LPARAM>(&found));
    return found.window != nullptr;
  }

  // A click that may open a modal loop: posted, returns at once.
  void Click(HWND dialog, int id) { PostMessageW(Item(dialog, id), BM_CLICK, 0, 0); }
  // A click whose handler ends before the call returns.
  void ClickNow(HWND dialog, int id) { SendMessageW(Item(dialog, id), BM_CLICK, 0, 0); }
  int Rows(HWND dialog, int id) { return ListView_GetItemCount(Item(dialog, id)); }
  std::wstring Cell(HWND dialog, int id, int row, int column) {
    wchar_t buffer[1024] = {};
    ListView_GetItemText(Item(dialog, id), row, column, buffer, 1024);
    return buffer;
  }
  int FindRow(HWND dialog, int id, const std::wstring& column0) {
    for (int row = 0; row < Rows(dialog, id); ++row)
      if (Cell(dialog, id, row, 0) == column0) return row;
    return -1;
  }
  // Selects and focuses one row (the others of a single-selection list drop theirs, those
  // of a multiple-selection list keep it).
  void SelectRow(HWND dialog, int id, int row) {
    ListView_SetItemState(Item(dialog, id), row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  }
  int SelectedRow(HWND dialog, int id) { return ListView_GetNextItem(Item(dialog, id), -1, LVNI_SELECTED); }
  // Answers a message box with one of its buttons (IDOK, IDYES, IDNO...).
  void Answer(HWND box, int button) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
    WaitGone(box);
  }
  // Records a failure seen by the script; the script goes on.
  void Expect(bool condition, const std::string& what) {
    if (!condition) Record(what);
  }

  // The control that has the keyboard focus in `window`'s thread.
  static HWND Focus(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
    return info.hwndFocus;
  }
  // Whether `predicate` holds within `timeoutMs`, tried every 20 ms.
  template <typename P>
  static bool Poll(int timeoutMs, P predicate) {
    for (int waited = 0; waited <= timeoutMs; waited += 20, Sleep(20))
      if (predicate()) return true;
    return false;
  }
  static std::wstring Text(HWND window) {
    wchar_t buffer[1024] = {};
    if (window != nullptr) SendMessageW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer));
    return buffer;
  }
  static std::string Narrow(const std::wstring& text) { return std::filesystem::path(text).string(); }

 private:
  struct Abort {};
  // The first window an enumeration hands to `Next` that `match`es.
  struct Found {
    std::function<bool(HWND)> match;
    HWND window = nullptr;
    static BOOL CALLBACK Next(HWND w, LPARAM self) {
      auto* found = reinterpret_cast<Found*>(self);
      if (found->match(w)) found->window = w;
      return found->window == nullptr;
    }
  };

  static bool IsDialog(HWND window) {
    wchar_t className[32] = {};
    return GetClassNameW(window, className, 32) > 0 && std::wstring(className) == L"#32770";
  }
  // Polls the UI thread's visible, enabled top-level windows for one that `match`es.
  HWND Wait(int timeoutMs, const std::string& failure, const std::function<bool(HWND)>& match) {
    Found found{[&](HWND w) { return IsWindowVisible(w) && IsWindowEnabled(w) && match(w); }};
    if (!Poll(timeoutMs, [&] {
          EnumThreadWindows(uiThread_, Found::Next, reinterpret_cast<LPARAM>(&found));
          return found.window != nullptr;
        }))
      Fail(failure);
    return found.window;
  }
  HWND Item(HWND dialog, int id) {
    HWND item = GetDlgItem(dialog, id);
    if (item == nullptr) Fail("control " + std::to_string(id) + " missing");
    return item;
  }
  void Record(const std::string& what) { failures_.push_back(what); }  // on the script's thread only
  [[noreturn]] void Fail(const std::string& what) {
    Record(what);
    throw Abort{};
  }
  // Cancels whatever is open until the modal run has returned.
  void Rescue() {
    Found every{[](HWND w) {
      if (IsDialog(w) && IsWindowEnabled(w))
        for (int id : {IDCANCEL, IDNO}) PostMessageW(w, WM_COMMAND, id, 0);
      return false;
    }};
    for (; !finished_; Sleep(100)) EnumThreadWindows(uiThread_, Found::Next, reinterpret_cast<LPARAM>(&every));
  }

  DWORD uiThread_;
  std::thread thread_;
  std::atomic<bool> finished_{false};
  std::vector<std::string> failures_;
};

}  // namespace estest
