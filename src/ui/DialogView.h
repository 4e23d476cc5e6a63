// The narrow view through which the dialog classes (configure, edit, scan selection) reach
// their window and controls. The dialog classes hold the logic and derive from
// CDialogLogic; a backend implements IDialogView:
//   - Win32 (src/platform/win32/): a real modal dialog built from the resource template,
//     the view backed by the real controls (CreateWin32View).
//   - Headless (src/ui/HeadlessView.h): in-memory controls, for tests and for eshost on
//     systems without windows.
//
// How a backend must behave (the dialog logic relies on every point):
//  * RunModal(logic) creates the dialog from the template given at creation, attaches the
//    view to the logic (logic.View() is valid from OnInitDialog until RunModal returns),
//    calls OnInitDialog, then delivers events until EndDialog(result) was called; it then
//    calls OnDestroy while the controls still exist, destroys the window, detaches and
//    returns the result. A dialog that could not be created returns -1 without any event.
//  * Events, all on the dialog's thread:
//      - IDOK (1) button or Enter            -> OnOK      (default: EndDialog(1))
//      - IDCANCEL (2) button, Esc, close box -> OnCancel  (default: EndDialog(2))
//      - any other button click              -> OnCommand(id, Command::kClicked); auto
//        check boxes have already toggled their check state when it arrives
//      - combo box selection change by the user -> OnCommand(id, Command::kSelChange)
//      - list view notifications             -> OnNotify(id, Notify::...):
//          kItemChanged after any change of an item's state (selected/focused), including
//            changes made by the logic itself through SetItemState and the deselection of
//            the other rows of a single-selection list; one notification per changed row,
//            delivered synchronously inside the call that caused it, as the list view does;
//          kDoubleClick on a double click (the row under the pointer is already selected);
//          kSetFocus when the list gains the keyboard focus (also through SetFocusTo).
//      - F1 (WM_HELP)                         -> OnHelp
//      - messages posted with Post or through a Poster, messages of the application
//        ranges (>= 0x8000) and the framework's command-help message 0x365 -> OnMessage
//  * List views keep the style of their template: LVS_SORTASCENDING lists place a new row
//    by case-insensitive comparison of its column-0 text, after all rows that compare
//    equal, and InsertItem returns that row; LVS_SINGLESEL lists keep at most one row
//    selected (selecting one deselects the others). Item data default to 0.
//    Rows are 0-based; -1 means none.
//  * Combo boxes with CBS_SORT place a new string case-insensitively and AddString returns
//    its index; SetCurSel does not send kSelChange (as on Windows).
//  * Rectangles are pixels. WindowRect is the outer window rectangle in screen
//    coordinates; ControlRect is in the dialog's client coordinates; MoveWindowTo and
//    MoveControlTo take the same coordinates as their getters and SetWindowPos-like flags
//    (kNoZOrder 0x4, kNoActivate 0x10, kNoSize 0x1, kNoMove 0x2).
//  * MessageBoxId/MessageBoxText are standard modal message boxes owned by the dialog
//    (caption: the application name); the result is IDOK (1), IDCANCEL (2), IDYES (6),
//    IDNO (7)...; MessageBoxId loads its text from the current module state's resources.
//  * Poster() returns an object that any thread may use to post a message to this dialog;
//    it outlives the view and posting after the window is gone fails without effect.
//
// Coordination with the Win32 backend: it lives in src/platform/win32/ and defines
// es::CreateWin32View(WindowHandle parent, int templateId). Its CMake adds that source to
// es_core together with the compile definition ES_HAVE_WIN32_VIEW (PRIVATE is enough:
// only DialogView.cpp reads it). Without the definition the Windows default is the
// headless view, so the Windows build keeps linking before the backend exists.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "es/HostInterfaces.h"
#include "base/Text.h"

namespace es {

class IDialogView;

struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool operator==(const Rect& other) const {
    return left == other.left && top == other.top && right == other.right && bottom == other.bottom;
  }
};

// SetWindowPos-like flags.
inline constexpr std::uint32_t kNoSize = 0x1;
inline constexpr std::uint32_t kNoMove = 0x2;
inline constexpr std::uint32_t kNoZOrder = 0x4;
inline constexpr std::uint32_t kNoActivate = 0x10;

// Dialog results and message box answers (Windows values).
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// Message box styles (Windows values).
inline constexpr std::uint32_t kMbOk = 0x0;
inline constexpr std::uint32_t kMbYesNo = 0x4;
inline constexpr std::uint32_t kMbIconStop = 0x10;
inline constexpr std::uint32_t kMbIconQuestion = 0x20;
inline constexpr std::uint32_t kMbIconExclamation = 0x30;
inline constexpr std::uint32_t kMbDefButton2 = 0x100;

// List view item states and column format (Windows values).
inline constexpr std::uint32_t kLvisFocused = 0x1;
inline constexpr std::uint32_t kLvisSelected = 0x2;
inline constexpr int kLvcfmtLeft = 0;
inline constexpr std::uint32_t kLvsExFullRowSelect = 0x20;

// The framework's private command-help message.
inline constexpr std::uint32_t kWmCommandHelp = 0x365;

enum class Command { kClicked, kSelChange };
enum class Notify { kItemChanged, kDoubleClick, kSetFocus };

// The logic side of a dialog. Handlers run on the dialog's thread during RunModal.
class CDialogLogic {
 public:
  // `templateId` names the dialog's help topic (template id plus 0x20000); 0: no help.
  explicit CDialogLogic(int templateId = 0) : templateId_(templateId) {}
  virtual ~CDialogLogic() = default;

  // Return true to let the focus go to the first control (as WM_INITDIALOG does).
  virtual bool OnInitDialog() { return true; }
  virtual void OnCommand(int /*controlId*/, Command /*code*/) {}
  virtual void OnNotify(int /*controlId*/, Notify /*code*/) {}
  // F1. Return true when handled. By default shows the dialog's help topic.
  virtual bool OnHelp();
  // Shows the dialog's help topic through the message library's context help.
  void ShowHelp();
  virtual std::intptr_t OnMessage(std::uint32_t /*message*/, std::uintptr_t /*wParam*/,
                                  std::intptr_t /*lParam*/) {
    return 0;
  }
  virtual void OnOK();
  virtual void OnCancel();
  // The window is about to go; controls still answer.
  virtual void OnDestroy() {}

  // The view running this dialog. Only valid during RunModal.
  IDialogView& View() const { return *view_; }
  bool HasView() const { return view_ != nullptr; }

  // Called by backends only.
  void AttachView(IDialogView* view) { view_ = view; }

 private:
  int templateId_;
  IDialogView* view_ = nullptr;
};

// Posts messages to one dialog from any thread.
class IMessagePoster {
 public:
  virtual ~IMessagePoster() = default;
  // False when the dialog is gone or the message could not be queued.
  virtual bool Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) = 0;
};

class IDialogView {
 public:
  virtual ~IDialogView() = default;

  // Modal run; see the top of this file.
  virtual int RunModal(CDialogLogic& logic) = 0;
  virtual void EndDialog(int result) = 0;
  // The window handle (owner of message boxes, context help); null before RunModal.
  virtual WindowHandle Handle() const = 0;

  // Window.
  virtual Str Caption() const = 0;
  virtual void SetCaption(const Str& text) = 0;
  virtual Rect WindowRect() const = 0;
  virtual void MoveWindowTo(const Rect& rect, std::uint32_t flags) = 0;
  // The work area of the monitor the window is on (the primary one when it is on none);
  // false when it cannot be had.
  virtual bool MonitorWorkArea(Rect* area) const = 0;

  // Controls by id.
  virtual void EnableControl(int id, bool enable) = 0;
  virtual bool IsControlEnabled(int id) const = 0;
  virtual void ShowControl(int id, bool show) = 0;
  virtual bool IsControlVisible(int id) const = 0;
  virtual void SetCheck(int id, bool checked) = 0;
  virtual bool IsChecked(int id) const = 0;
  virtual Str ControlText(int id) const = 0;
  virtual void SetControlText(int id, const Str& text) = 0;
  virtual Rect ControlRect(int id) const = 0;  // client coordinates of the dialog
  virtual void MoveControlTo(int id, const Rect& rect, std::uint32_t flags) = 0;
  virtual void SetFocusTo(int id) = 0;

  // List views.
  virtual void InsertColumn(int id, int column, const Str& text, int format, int width) = 0;
  virtual void SetColumnWidth(int id, int column, int width) = 0;
  virtual int ListClientWidth(int id) const = 0;
  virtual int ListOuterWidth(int id) const = 0;
  virtual void AddListExtendedStyle(int id, std::uint32_t style) = 0;
  // Returns the row the new item landed on (the list's own sort order), -1 on failure.
  virtual int InsertItem(int id, const Str& column0) = 0;
  virtual void SetItemText(int id, int row, int column, const Str& text) = 0;
  virtual Str ItemText(int id, int row, int column) const = 0;
  virtual bool DeleteItem(int id, int row) = 0;
  virtual void DeleteAllItems(int id) = 0;
  virtual int ItemCount(int id) const = 0;
  virtual void SetItemData(int id, int row, std::intptr_t data) = 0;
  virtual std::intptr_t ItemData(int id, int row) const = 0;
  // `mask` chooses which of kLvisSelected/kLvisFocused to set from `state`.
  virtual void SetItemState(int id, int row, std::uint32_t state, std::uint32_t mask) = 0;
  virtual std::uint32_t ItemState(int id, int row, std::uint32_t mask) const = 0;
  // First selected row after `after` (-1 = from the start), or -1.
  virtual int NextSelected(int id, int after) const = 0;

  // Combo boxes.
  virtual int AddString(int id, const Str& text) = 0;  // index of the new entry
  virtual int ComboCount(int id) const = 0;
  virtual Str ComboText(int id, int index) const = 0;
  virtual void SetComboData(int id, int index, std::intptr_t data) = 0;
  virtual std::intptr_t ComboData(int id, int index) const = 0;
  virtual void SetCurSel(int id, int index) = 0;
  virtual int CurSel(int id) const = 0;  // -1 = none

  // Shell services.
  virtual void EnableAutoComplete(int id) = 0;  // file-system completion for an edit
  // Folder browser owned by the dialog; nothing when cancelled or the path does not fit
  // in 259 characters.
  virtual std::optional<Str> BrowseForFolder(const Str& initialPath, const Str& title) = 0;

  // Standard message boxes.
  virtual int MessageBoxId(std::uint32_t stringId, std::uint32_t style) = 0;
  virtual int MessageBoxText(const Str& text, std::uint32_t style) = 0;

  virtual void SetWaitCursor(bool on) = 0;

  // Queues a message for this dialog's own loop (dialog thread).
  virtual bool Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) = 0;
  virtual std::shared_ptr<IMessagePoster> Poster() = 0;
};

// A string resource of the module whose state is current (dialog texts, message boxes).
Str LoadDialogString(std::uint32_t id);

// Process-wide view factory: every dialog asks it for its view.
using ViewFactory = std::unique_ptr<IDialogView> (*)(WindowHandle parent, int templateId);
// Null restores the default (the Win32 view on Windows, the headless one elsewhere).
// Returns the previous factory.
ViewFactory SetViewFactory(ViewFactory factory);
std::unique_ptr<IDialogView> CreateView(WindowHandle parent, int templateId);

// The headless view (HeadlessView.cpp).
std::unique_ptr<IDialogView> CreateHeadlessView(WindowHandle parent, int templateId);
#ifdef _WIN32
// The real dialog (src/platform/win32/). Returns null when the template cannot be loaded.
std::unique_ptr<IDialogView> CreateWin32View(WindowHandle parent, int templateId);
#endif

}  // namespace es
