// The dialog view on Win32: DialogBoxParamW on the module's template, a dialog procedure
// that hands the messages the dialog logic cares about to the logic, and every view
// operation sent to the real control. The controls do their own sorting, selection and
// notification; this file only translates.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cwchar>
#include <mutex>
#include <vector>

#include "ui/win32/Win32DialogView.h"
// After <windows.h>: the seam's header undefines some of its macros.
#include "Brivel.h"
#include "base/ModuleState.h"
#include "platform/Platform.h"

namespace es {

namespace {

const wchar_t* W(const Str& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }
wchar_t* MutableW(const Str& text) { return const_cast<wchar_t*>(W(text)); }
Str FromW(const wchar_t* text, std::size_t length) {
  return Str(reinterpret_cast<const char16_t*>(text), length);
}
HWND Hwnd(void* handle) { return static_cast<HWND>(handle); }

Rect FromRECT(const RECT& r) { return Rect{r.left, r.top, r.right, r.bottom}; }

Str WindowText(HWND window) {
  if (window == nullptr) return {};
  int length = GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::vector<wchar_t> buffer(static_cast<std::size_t>(length) + 1);
  int got = GetWindowTextW(window, buffer.data(), length + 1);
  return FromW(buffer.data(), got > 0 ? static_cast<std::size_t>(got) : 0);
}

bool HasClass(HWND window, const wchar_t* className) {
  wchar_t name[64] = {};
  if (window == nullptr || GetClassNameW(window, name, 64) == 0) return false;
  return lstrcmpiW(name, className) == 0;
}

// Where templates and strings come from: the current module state's resources (the
// module, or its language resources); a test program that links the resource script
// into itself has no state switched in, and finds them in its own image.
HINSTANCE ResourceModule() {
  void* resources = CurrentModuleState()->resources;
  if (resources == nullptr) resources = platform::ThisModuleHandle();
  return static_cast<HINSTANCE>(resources);
}

// The caption of the module's boxes: the application name the UI-controls library gives.
Str ApplicationName() {
  const char16_t* name = GetAppName();
  return name != nullptr ? Str(name) : Str();
}

void InitControlsOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    INITCOMMONCONTROLSEX init{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&init);
  });
}

// OLE for the dialog's lifetime: the folder browser's new style and the auto-completion
// object need an apartment on the dialog's thread. Balanced: a thread that already had
// one keeps it as it was.
class OleScope {
 public:
  OleScope() : initialized_(SUCCEEDED(OleInitialize(nullptr))) {}
  ~OleScope() {
    if (initialized_) OleUninitialize();
  }
  OleScope(const OleScope&) = delete;
  OleScope& operator=(const OleScope&) = delete;

 private:
  bool initialized_;
};

INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) SetWindowLongPtrW(window, DWLP_USER, lParam);
  auto* view = reinterpret_cast<Win32DialogView*>(GetWindowLongPtrW(window, DWLP_USER));
  if (view == nullptr) return FALSE;
  std::intptr_t result = 0;
  bool handled = view->Dispatch(window, message, wParam, lParam, &result);
  if (handled && message != WM_INITDIALOG) SetWindowLongPtrW(window, DWLP_MSGRESULT, result);
  return handled ? TRUE : FALSE;
}

// The item list of a path, for the browser's initial selection; false only when the
// desktop folder is not to be had. An unparsable path leaves `*items` null.
bool PathToItemList(const Str& path, PIDLIST_ABSOLUTE* items) {
  if (items == nullptr) return false;
  *items = nullptr;
  wchar_t buffer[MAX_PATH] = {};
  std::size_t length = path.size() < MAX_PATH - 1 ? path.size() : MAX_PATH - 1;  // longer text is cut
  for (std::size_t i = 0; i < length; ++i) buffer[i] = static_cast<wchar_t>(path[i]);
  IShellFolder* desktop = nullptr;
  if (FAILED(SHGetDesktopFolder(&desktop)) || desktop == nullptr) return false;
  PIDLIST_RELATIVE parsed = nullptr;
  if (SUCCEEDED(desktop->ParseDisplayName(nullptr, nullptr, buffer, nullptr, &parsed, nullptr)))
    *items = reinterpret_cast<PIDLIST_ABSOLUTE>(parsed);
  desktop->Release();
  return true;
}

int CALLBACK BrowseCallback(HWND window, UINT message, LPARAM parameter, LPARAM data) {
  if (message == BFFM_INITIALIZED) {
    if (data != 0) SendMessageW(window, BFFM_SETSELECTIONW, FALSE, data);
  } else if (message == BFFM_SELCHANGED) {
    wchar_t path[MAX_PATH] = {};
    if (SHGetPathFromIDListW(reinterpret_cast<PCIDLIST_ABSOLUTE>(parameter), path))
      SendMessageW(window, BFFM_SETSTATUSTEXTW, 0, reinterpret_cast<LPARAM>(path));
  }
  return 0;
}

}  // namespace

// Shared with any thread that counts on the dialog; forgets the window when it goes, so
// that a late post fails instead of reaching a window that reused the handle.
class Win32MessagePoster final : public IMessagePoster {
 public:
  bool Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override {
    std::lock_guard<std::mutex> lock(mutex_);
    return window_ != nullptr && PostMessageW(window_, message, wParam, lParam) != FALSE;
  }
  void Attach(HWND window) {
    std::lock_guard<std::mutex> lock(mutex_);
    window_ = window;
  }

 private:
  std::mutex mutex_;
  HWND window_ = nullptr;
};

Win32DialogView::Win32DialogView(void* resources, WindowHandle parent, int templateId)
    : resources_(resources), parent_(parent), templateId_(templateId),
      poster_(std::make_shared<Win32MessagePoster>()) {}

Win32DialogView::~Win32DialogView() { poster_->Attach(nullptr); }

template <typename F>
void Win32DialogView::Guarded(F&& handler) {
  if (pending_) return;
  try {
    handler();
  } catch (...) {
    pending_ = std::current_exception();
    if (window_ != nullptr) ::EndDialog(Hwnd(window_), -1);
  }
}

int Win32DialogView::RunModal(CDialogLogic& logic) {
  InitControlsOnce();
  OleScope ole;
  logic_ = &logic;
  pending_ = nullptr;
  INT_PTR result = DialogBoxParamW(static_cast<HINSTANCE>(resources_), MAKEINTRESOURCEW(templateId_),
                                   Hwnd(parent_), &DialogProc, reinterpret_cast<LPARAM>(this));
  logic.AttachView(nullptr);
  logic_ = nullptr;
  window_ = nullptr;
  if (waitDepth_ > 0) {
    waitDepth_ = 1;
    SetWaitCursor(false);
  }
  if (pending_) {
    std::exception_ptr pending = pending_;
    pending_ = nullptr;
    std::rethrow_exception(pending);
  }
  return static_cast<int>(result);
}

bool Win32DialogView::Dispatch(void* window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                               std::intptr_t* result) {
  if (logic_ == nullptr) return false;
  switch (message) {
    case WM_INITDIALOG: {
      window_ = window;
      poster_->Attach(Hwnd(window));
      logic_->AttachView(this);
      bool defaultFocus = true;
      Guarded([&] { defaultFocus = logic_->OnInitDialog(); });
      return defaultFocus;
    }
    case WM_COMMAND: {
      int id = LOWORD(wParam);
      int code = HIWORD(wParam);
      if (code == BN_CLICKED) {
        if (id == IDOK)
          Guarded([&] { logic_->OnOK(); });
        else if (id == IDCANCEL)
          Guarded([&] { logic_->OnCancel(); });
        else
          Guarded([&] { logic_->OnCommand(id, Command::kClicked); });
        return true;
      }
      if (code == CBN_SELCHANGE && HasClass(reinterpret_cast<HWND>(lParam), WC_COMBOBOXW)) {
        Guarded([&] { logic_->OnCommand(id, Command::kSelChange); });
        return true;
      }
      return false;
    }
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header == nullptr || !HasClass(header->hwndFrom, WC_LISTVIEWW)) return false;
      Notify code;
      if (header->code == LVN_ITEMCHANGED)
        code = Notify::kItemChanged;
      else if (header->code == static_cast<UINT>(NM_DBLCLK))
        code = Notify::kDoubleClick;
      else if (header->code == static_cast<UINT>(NM_SETFOCUS))
        code = Notify::kSetFocus;
      else
        return false;
      int id = static_cast<int>(header->idFrom);
      Guarded([&] { logic_->OnNotify(id, code); });
      *result = 0;
      return true;
    }
    case WM_HELP: {
      bool handled = false;
      Guarded([&] { handled = logic_->OnHelp(); });
      *result = TRUE;
      return handled;
    }
    case WM_DESTROY:
      // Also after a handler failed: the logic frees what its rows hold.
      try {
        logic_->OnDestroy();
      } catch (...) {
        if (!pending_) pending_ = std::current_exception();
      }
      poster_->Attach(nullptr);
      logic_ = nullptr;  // nothing reaches the logic after OnDestroy
      return false;
    default:
      break;
  }
  // Messages of the logic's own: the framework's command help, the application range, and
  // the user range above the dialog manager's own DM_ messages.
  bool own = message == kWmCommandHelp || (message >= WM_APP && message < 0xC000) ||
             (message > DM_REPOSITION && message < WM_APP);
  if (!own) return false;
  Guarded([&] { *result = logic_->OnMessage(message, wParam, lParam); });
  return true;
}

void Win32DialogView::EndDialog(int result) {
  if (window_ != nullptr) ::EndDialog(Hwnd(window_), result);
}

void* Win32DialogView::Control(int id) const {
  return window_ != nullptr ? GetDlgItem(Hwnd(window_), id) : nullptr;
}

// ---- Window ---------------------------------------------------------------------------

Str Win32DialogView::Caption() const { return WindowText(Hwnd(window_)); }

void Win32DialogView::SetCaption(const Str& text) {
  if (window_ != nullptr) SetWindowTextW(Hwnd(window_), W(text));
}

Rect Win32DialogView::WindowRect() const {
  RECT r{};
  if (window_ != nullptr) GetWindowRect(Hwnd(window_), &r);
  return FromRECT(r);
}

void Win32DialogView::MoveWindowTo(const Rect& rect, std::uint32_t flags) {
  if (window_ == nullptr) return;
  SetWindowPos(Hwnd(window_), nullptr, rect.left, rect.top, rect.Width(), rect.Height(), flags);
}

bool Win32DialogView::MonitorWorkArea(Rect* area) const {
  HMONITOR monitor = MonitorFromWindow(Hwnd(window_), MONITOR_DEFAULTTOPRIMARY);
  if (monitor == nullptr) return false;
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  if (!GetMonitorInfoW(monitor, &info)) return false;
  *area = FromRECT(info.rcWork);
  return true;
}

// ---- Controls -------------------------------------------------------------------------

void Win32DialogView::EnableControl(int id, bool enable) {
  if (HWND c = Hwnd(Control(id))) EnableWindow(c, enable ? TRUE : FALSE);
}

bool Win32DialogView::IsControlEnabled(int id) const {
  HWND c = Hwnd(Control(id));
  return c != nullptr && IsWindowEnabled(c) != FALSE;
}

void Win32DialogView::ShowControl(int id, bool show) {
  if (HWND c = Hwnd(Control(id))) ShowWindow(c, show ? SW_SHOW : SW_HIDE);
}

bool Win32DialogView::IsControlVisible(int id) const {
  // The control's own visibility: during initialisation the dialog itself is not yet
  // shown, which IsWindowVisible would count against every control.
  HWND c = Hwnd(Control(id));
  return c != nullptr && (GetWindowLongW(c, GWL_STYLE) & WS_VISIBLE) != 0;
}

void Win32DialogView::SetCheck(int id, bool checked) {
  if (HWND c = Hwnd(Control(id))) SendMessageW(c, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

bool Win32DialogView::IsChecked(int id) const {
  HWND c = Hwnd(Control(id));
  return c != nullptr && SendMessageW(c, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

Str Win32DialogView::ControlText(int id) const { return WindowText(Hwnd(Control(id))); }

void Win32DialogView::SetControlText(int id, const Str& text) {
  if (HWND c = Hwnd(Control(id))) SetWindowTextW(c, W(text));
}

Rect Win32DialogView::ControlRect(int id) const {
  RECT r{};
  HWND c = Hwnd(Control(id));
  if (c == nullptr) return {};
  GetWindowRect(c, &r);
  MapWindowPoints(nullptr, Hwnd(window_), reinterpret_cast<POINT*>(&r), 2);
  return FromRECT(r);
}

void Win32DialogView::MoveControlTo(int id, const Rect& rect, std::uint32_t flags) {
  if (HWND c = Hwnd(Control(id))) SetWindowPos(c, nullptr, rect.left, rect.top, rect.Width(), rect.Height(), flags);
}

void Win32DialogView::SetFocusTo(int id) {
  if (HWND c = Hwnd(Control(id))) SetFocus(c);
}

// ---- List views -----------------------------------------------------------------------

void Win32DialogView::InsertColumn(int id, int column, const Str& text, int format, int width) {
  LVCOLUMNW col{};
  col.mask = LVCF_FMT | LVCF_TEXT;
  col.fmt = format;
  col.pszText = MutableW(text);
  if (width >= 0) {
    col.mask |= LVCF_WIDTH;
    col.cx = width;
  }
  SendMessageW(Hwnd(Control(id)), LVM_INSERTCOLUMNW, column, reinterpret_cast<LPARAM>(&col));
}

void Win32DialogView::SetColumnWidth(int id, int column, int width) {
  SendMessageW(Hwnd(Control(id)), LVM_SETCOLUMNWIDTH, column, MAKELPARAM(width, 0));
}

int Win32DialogView::ListClientWidth(int id) const {
  RECT r{};
  HWND c = Hwnd(Control(id));
  if (c == nullptr || !GetClientRect(c, &r)) return 0;
  return r.right - r.left;
}

int Win32DialogView::ListOuterWidth(int id) const {
  RECT r{};
  HWND c = Hwnd(Control(id));
  if (c == nullptr || !GetWindowRect(c, &r)) return 0;
  return r.right - r.left;
}

void Win32DialogView::AddListExtendedStyle(int id, std::uint32_t style) {
  SendMessageW(Hwnd(Control(id)), LVM_SETEXTENDEDLISTVIEWSTYLE, style, style);
}

int Win32DialogView::InsertItem(int id, const Str& column0) {
  HWND c = Hwnd(Control(id));
  if (c == nullptr) return -1;
  LVITEMW item{};
  item.mask = LVIF_TEXT;
  // A sorted list places the row itself; the position asked for only matters to an
  // unsorted one, which gets the row at the end.
  item.iItem = static_cast<int>(SendMessageW(c, LVM_GETITEMCOUNT, 0, 0));
  item.pszText = MutableW(column0);
  return static_cast<int>(SendMessageW(c, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

void Win32DialogView::SetItemText(int id, int row, int column, const Str& text) {
  LVITEMW item{};
  item.iSubItem = column;
  item.pszText = MutableW(text);
  SendMessageW(Hwnd(Control(id)), LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
}

Str Win32DialogView::ItemText(int id, int row, int column) const {
  HWND c = Hwnd(Control(id));
  if (c == nullptr) return {};
  // The control copies at most the buffer less its terminator; grow until the text fits.
  for (std::size_t size = 256;; size *= 2) {
    std::vector<wchar_t> buffer(size);
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = buffer.data();
    item.cchTextMax = static_cast<int>(size);
    auto got = static_cast<std::size_t>(SendMessageW(c, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item)));
    if (got + 1 < size || size >= (1u << 20)) return FromW(buffer.data(), wcsnlen(buffer.data(), size));
  }
}

bool Win32DialogView::DeleteItem(int id, int row) {
  return SendMessageW(Hwnd(Control(id)), LVM_DELETEITEM, row, 0) != FALSE;
}

void Win32DialogView::DeleteAllItems(int id) { SendMessageW(Hwnd(Control(id)), LVM_DELETEALLITEMS, 0, 0); }

int Win32DialogView::ItemCount(int id) const {
  return static_cast<int>(SendMessageW(Hwnd(Control(id)), LVM_GETITEMCOUNT, 0, 0));
}

void Win32DialogView::SetItemData(int id, int row, std::intptr_t data) {
  LVITEMW item{};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  item.lParam = data;
  SendMessageW(Hwnd(Control(id)), LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
}

std::intptr_t Win32DialogView::ItemData(int id, int row) const {
  LVITEMW item{};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  if (!SendMessageW(Hwnd(Control(id)), LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) return 0;
  return item.lParam;
}

void Win32DialogView::SetItemState(int id, int row, std::uint32_t state, std::uint32_t mask) {
  LVITEMW item{};
  item.stateMask = mask;
  item.state = state;
  SendMessageW(Hwnd(Control(id)), LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

std::uint32_t Win32DialogView::ItemState(int id, int row, std::uint32_t mask) const {
  return static_cast<std::uint32_t>(SendMessageW(Hwnd(Control(id)), LVM_GETITEMSTATE, row, mask));
}

int Win32DialogView::NextSelected(int id, int after) const {
  HWND c = Hwnd(Control(id));
  if (c == nullptr) return -1;
  return static_cast<int>(SendMessageW(c, LVM_GETNEXTITEM, static_cast<WPARAM>(after), LVNI_SELECTED));
}

// ---- Combo boxes ----------------------------------------------------------------------

int Win32DialogView::AddString(int id, const Str& text) {
  HWND c = Hwnd(Control(id));
  if (c == nullptr) return -1;
  return static_cast<int>(SendMessageW(c, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(W(text))));
}

int Win32DialogView::ComboCount(int id) const {
  HWND c = Hwnd(Control(id));
  return c != nullptr ? static_cast<int>(SendMessageW(c, CB_GETCOUNT, 0, 0)) : 0;
}

Str Win32DialogView::ComboText(int id, int index) const {
  HWND c = Hwnd(Control(id));
  if (c == nullptr) return {};
  LRESULT length = SendMessageW(c, CB_GETLBTEXTLEN, index, 0);
  if (length == CB_ERR || length <= 0) return {};
  std::vector<wchar_t> buffer(static_cast<std::size_t>(length) + 1);
  LRESULT got = SendMessageW(c, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(buffer.data()));
  return got == CB_ERR ? Str() : FromW(buffer.data(), static_cast<std::size_t>(got));
}

void Win32DialogView::SetComboData(int id, int index, std::intptr_t data) {
  SendMessageW(Hwnd(Control(id)), CB_SETITEMDATA, index, data);
}

std::intptr_t Win32DialogView::ComboData(int id, int index) const {
  HWND c = Hwnd(Control(id));
  if (c == nullptr) return CB_ERR;
  return SendMessageW(c, CB_GETITEMDATA, index, 0);
}

void Win32DialogView::SetCurSel(int id, int index) { SendMessageW(Hwnd(Control(id)), CB_SETCURSEL, index, 0); }

int Win32DialogView::CurSel(int id) const {
  HWND c = Hwnd(Control(id));
  return c != nullptr ? static_cast<int>(SendMessageW(c, CB_GETCURSEL, 0, 0)) : -1;
}

// ---- Shell services -------------------------------------------------------------------

void Win32DialogView::EnableAutoComplete(int id) {
  if (HWND c = Hwnd(Control(id))) SHAutoComplete(c, SHACF_FILESYSTEM);
}

std::optional<Str> Win32DialogView::BrowseForFolder(const Str& initialPath, const Str& title) {
  PIDLIST_ABSOLUTE initial = nullptr;
  PathToItemList(initialPath, &initial);
  wchar_t displayName[MAX_PATH] = {};
  BROWSEINFOW info{};
  info.hwndOwner = Hwnd(window_);
  info.pidlRoot = nullptr;  // the desktop
  info.pszDisplayName = displayName;
  info.lpszTitle = W(title);
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT | BIF_NEWDIALOGSTYLE;  // 0x45
  info.lpfn = &BrowseCallback;
  info.lParam = reinterpret_cast<LPARAM>(initial);
  PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
  CoTaskMemFree(initial);
  if (chosen == nullptr) return std::nullopt;
  // SHGetPathFromIDListW fills at most MAX_PATH units and fails for a longer path.
  wchar_t path[MAX_PATH] = {};
  bool ok = SHGetPathFromIDListW(chosen, path) != FALSE;
  CoTaskMemFree(chosen);
  std::size_t length = wcsnlen(path, MAX_PATH);
  if (!ok || length >= MAX_PATH) return std::nullopt;
  return FromW(path, length);
}

// ---- Message boxes, cursor, messages --------------------------------------------------

int Win32DialogView::MessageBoxId(std::uint32_t stringId, std::uint32_t style) {
  return MessageBoxText(LoadDialogString(stringId), style);
}

int Win32DialogView::MessageBoxText(const Str& text, std::uint32_t style) {
  Str caption = ApplicationName();
  HWND owner = Hwnd(window_ != nullptr ? window_ : parent_);
  return MessageBoxW(owner, W(text), W(caption), style);
}

void Win32DialogView::SetWaitCursor(bool on) {
  if (on) {
    HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    if (waitDepth_++ == 0) cursorBeforeWait_ = previous;
    return;
  }
  if (waitDepth_ == 0 || --waitDepth_ > 0) return;
  HCURSOR restore = static_cast<HCURSOR>(cursorBeforeWait_);
  SetCursor(restore != nullptr ? restore : LoadCursorW(nullptr, IDC_ARROW));
  cursorBeforeWait_ = nullptr;
}

bool Win32DialogView::Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
  return window_ != nullptr && PostMessageW(Hwnd(window_), message, wParam, lParam) != FALSE;
}

std::shared_ptr<IMessagePoster> Win32DialogView::Poster() { return poster_; }

// ---- Factory --------------------------------------------------------------------------

std::unique_ptr<IDialogView> CreateWin32View(WindowHandle parent, int templateId) {
  InitControlsOnce();
  HINSTANCE resources = ResourceModule();
  if (FindResourceW(resources, MAKEINTRESOURCEW(templateId), RT_DIALOG) == nullptr) return nullptr;
  return std::make_unique<Win32DialogView>(resources, parent, templateId);
}

}  // namespace es
