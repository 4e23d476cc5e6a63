// Drives the real dialogs of the test's own thread from a second thread, with window
// messages as a user's clicks and keys would produce them. The dialog runs modally on
// the test's thread; the script finds its windows, sends or posts messages and reads
// the controls back.
//
// Clicks that open a nested modal loop (another dialog, a message box) are posted, so
// that the script is not held inside that loop; everything else is sent and has run when
// the call returns. A script that cannot find what it waits for records the failure and
// cancels every dialog still open, so that the modal run returns and the test fails
// instead of hanging.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <functional>
#include <mutex>
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
    thread_ = std::thread([this, script = std::move(script)] { Run(script); });
  }
  ~WindowDriver() { Finish(); }
  WindowDriver(const WindowDriver&) = delete;
  WindowDriver& operator=(const WindowDriver&) = delete;

  // Call once the modal run has returned: ends the script (or its rescue) and waits.
  void Finish() {
    finished_ = true;
    if (thread_.joinable()) thread_.join();
  }

  std::vector<std::string> Failures() {
    std::lock_guard<std::mutex> lock(mutex_);
    return failures_;
  }

  // ---- Finding windows ----------------------------------------------------------------

  // A visible, enabled dialog window of the UI thread with that caption (the enabled
  // one is the dialog on top when dialogs are nested).
  HWND WaitDialog(const std::wstring& caption, int timeoutMs = 10000) {
    HWND found = nullptr;
    if (!Poll(timeoutMs, [&] { return (found = FindDialog(caption)) != nullptr; }))
      Fail("no dialog \"" + Narrow(caption) + "\" appeared");
    return found;
  }

  HWND FindDialog(const std::wstring& caption) const {
    struct Search {
      const std::wstring* caption;
      HWND found;
    } search{&caption, nullptr};
    EnumThreadWindows(
        uiThread_,
        [](HWND window, LPARAM context) -> BOOL {
          auto* s = reinterpret_cast<Search*>(context);
          wchar_t className[32] = {};
          GetClassNameW(window, className, 32);
          if (std::wstring(className) != L"#32770" || !IsWindowVisible(window) || !IsWindowEnabled(window))
            return TRUE;
          if (Text(window) != *s->caption) return TRUE;
          s->found = window;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
  }

  void WaitGone(HWND window, int timeoutMs = 10000) {
    if (!Poll(timeoutMs, [&] { return !IsWindow(window); })) Fail("window \"" + Narrow(Text(window)) + "\" stayed");
  }

  // The visible, enabled top-level window that `owner` owns (a nested dialog, a browser).
  HWND WaitOwned(HWND owner, int timeoutMs = 10000) {
    struct Search {
      HWND owner;
      HWND found;
    } search{owner, nullptr};
    auto find = [&] {
      search.found = nullptr;
      EnumThreadWindows(
          uiThread_,
          [](HWND window, LPARAM context) -> BOOL {
            auto* s = reinterpret_cast<Search*>(context);
            if (!IsWindowVisible(window) || !IsWindowEnabled(window) || GetWindow(window, GW_OWNER) != s->owner)
              return TRUE;
            s->found = window;
            return FALSE;
          },
          reinterpret_cast<LPARAM>(&search));
      return search.found != nullptr;
    };
    if (!Poll(timeoutMs, find)) Fail("no window owned by \"" + Narrow(Text(owner)) + "\" appeared");
    return search.found;
  }

  // Whether any descendant of `parent` shows `text` (compared without regard to case).
  static bool HasChildWithText(HWND parent, const std::wstring& text) {
    struct Search {
      const std::wstring* text;
      bool found;
    } search{&text, false};
    EnumChildWindows(
        parent,
        [](HWND child, LPARAM context) -> BOOL {
          auto* s = reinterpret_cast<Search*>(context);
          if (_wcsicmp(Text(child).c_str(), s->text->c_str()) == 0) s->found = true;
          return s->found ? FALSE : TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
  }

  // A message box (caption `caption`) owned by `owner`; its text in `*text`.
  HWND WaitMessageBox(HWND owner, const std::wstring& caption, std::wstring* text, int timeoutMs = 10000) {
    HWND box = nullptr;
    if (!Poll(timeoutMs, [&] {
          box = FindDialog(caption);
          return box != nullptr && GetWindow(box, GW_OWNER) == owner;
        }))
      Fail("no message box owned by \"" + Narrow(Text(owner)) + "\"");
    if (text != nullptr) *text = Text(GetDlgItem(box, 0xFFFF));
    return box;
  }

  // ---- Acting -------------------------------------------------------------------------

  // A click that may open a modal loop: posted, returns at once.
  void Click(HWND dialog, int id) { PostMessageW(Item(dialog, id), BM_CLICK, 0, 0); }
  // A click whose handler ends before the call returns.
  void ClickNow(HWND dialog, int id) { SendMessageW(Item(dialog, id), BM_CLICK, 0, 0); }
  void SetText(HWND dialog, int id, const std::wstring& text) {
    SendMessageW(Item(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
  bool Checked(HWND dialog, int id) { return SendMessageW(Item(dialog, id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
  bool Enabled(HWND dialog, int id) { return IsWindowEnabled(Item(dialog, id)) != FALSE; }
  bool Visible(HWND dialog, int id) { return IsWindowVisible(Item(dialog, id)) != FALSE; }

  // List views, as the user sees them.
  int Rows(HWND dialog, int id) { return static_cast<int>(SendMessageW(Item(dialog, id), LVM_GETITEMCOUNT, 0, 0)); }
  std::wstring Cell(HWND dialog, int id, int row, int column) {
    wchar_t buffer[1024] = {};
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = buffer;
    item.cchTextMax = 1024;
    SendMessageW(Item(dialog, id), LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    return buffer;
  }
  int FindRow(HWND dialog, int id, const std::wstring& column0) {
    for (int row = 0; row < Rows(dialog, id); ++row)
      if (Cell(dialog, id, row, 0) == column0) return row;
    return -1;
  }
  // Selects and focuses one row (the others of a single-selection list drop theirs).
  void SelectRow(HWND dialog, int id, int row) {
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(Item(dialog, id), LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
  }
  int SelectedRow(HWND dialog, int id) {
    return static_cast<int>(SendMessageW(Item(dialog, id), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  }

  // Answers a message box with one of its buttons (IDOK, IDYES, IDNO...).
  void Answer(HWND box, int button) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
    WaitGone(box);
  }

  // Records a failure seen by the script; the script goes on.
  void Expect(bool condition, const std::string& what) {
    if (!condition) Record(what);
  }

  static std::wstring Text(HWND window) {
    if (window == nullptr) return {};
    wchar_t buffer[1024] = {};
    SendMessageW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buffer));
    return buffer;
  }
  static std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out.push_back(c < 128 ? static_cast<char>(c) : '?');
    return out;
  }

 private:
  struct Abort {};

  HWND Item(HWND dialog, int id) {
    HWND item = GetDlgItem(dialog, id);
    if (item == nullptr) Fail("control " + std::to_string(id) + " missing");
    return item;
  }

  template <typename P>
  bool Poll(int timeoutMs, P predicate) {
    for (int waited = 0; waited <= timeoutMs; waited += 20) {
      if (predicate()) return true;
      Sleep(20);
    }
    return false;
  }

  void Record(const std::string& what) {
    std::lock_guard<std::mutex> lock(mutex_);
    failures_.push_back(what);
  }
  [[noreturn]] void Fail(const std::string& what) {
    Record(what);
    throw Abort{};
  }

  void Run(const Script& script) {
    try {
      script(*this);
    } catch (const Abort&) {
      Rescue();
    } catch (...) {
      Record("script threw");
      Rescue();
    }
  }

  // Cancels whatever is open until the modal run has returned.
  void Rescue() {
    while (!finished_) {
      EnumThreadWindows(
          uiThread_,
          [](HWND window, LPARAM) -> BOOL {
            wchar_t className[32] = {};
            GetClassNameW(window, className, 32);
            if (std::wstring(className) == L"#32770" && IsWindowEnabled(window)) {
              PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
              PostMessageW(window, WM_COMMAND, IDNO, 0);
            }
            return TRUE;
          },
          0);
      Sleep(100);
    }
  }

  DWORD uiThread_;
  std::thread thread_;
  std::atomic<bool> finished_{false};
  std::mutex mutex_;
  std::vector<std::string> failures_;
};

}  // namespace estest
