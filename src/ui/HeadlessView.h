// The headless dialog view: in-memory controls built from the module's dialog templates,
// for tests and for programs without windows (eshost on Linux drives the configuration
// dialogs through it).
//
// Geometry: a fixed dialog base unit, 1 dialog unit = 1.5 pixels horizontally and
// 1.625 pixels vertically (the 8-point dialog font at 96 dpi, rounded), each value
// rounded to the nearest pixel. The window has a frame of 3 pixels left, right and
// bottom and 26 pixels at the top (border and caption) around its client area; it opens
// at the top-left corner of the work area. The work area defaults to 0,0-1920,1040.
//
// A modal run: the controls are built, the desk's next script for the template (if any)
// gets `beforeInit` (window and controls exist, OnInitDialog has not run: tests set the
// window size here), OnInitDialog runs, then `run` performs the user's actions. Each
// action is delivered like the real dialog delivers it and is followed by the dispatch
// of every posted message, as the message loop would. When `run` returns without the
// dialog having ended, or when there is no script, the user closes the window: Cancel.
//
// Message boxes are answered from the desk's queue of answers; when it is empty, by the
// desk's answerer; without either, with the cautious button: OK for an OK box, No for a
// Yes/No box, Cancel where there is one. Every box is recorded in the desk.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "ui/DialogTemplates.h"
#include "ui/DialogView.h"

namespace es {

inline constexpr double kHeadlessDluX = 1.5;
inline constexpr double kHeadlessDluY = 1.625;
inline constexpr int kHeadlessFrame = 3;     // left, right, bottom
inline constexpr int kHeadlessCaption = 26;  // top: border and caption

class HeadlessView;

struct HeadlessScript {
  std::function<void(HeadlessView&)> beforeInit;
  std::function<void(HeadlessView&)> run;
};

struct HeadlessBox {
  int templateId = 0;         // dialog that asked
  std::uint32_t stringId = 0;  // 0 for a text box
  Str text;
  std::uint32_t style = 0;
  int answer = 0;
};

struct HeadlessBrowse {
  Str initialPath;
  Str title;
};

// What the headless dialogs of the process see beyond their controls. Constructing one
// makes it current (and installs the headless view factory); destroying it restores the
// previous desk and factory. Used on the dialogs' thread only.
class HeadlessDesk {
 public:
  HeadlessDesk();
  ~HeadlessDesk();
  HeadlessDesk(const HeadlessDesk&) = delete;
  HeadlessDesk& operator=(const HeadlessDesk&) = delete;

  // Scripts are taken in order, per template, one per modal run.
  void AddScript(int templateId, HeadlessScript script);
  void AddScript(int templateId, std::function<void(HeadlessView&)> run);
  std::optional<HeadlessScript> TakeScript(int templateId);

  void AddAnswer(int answer) { answers_.push_back(answer); }
  std::function<int(const HeadlessBox&)> answerer;
  int Answer(HeadlessBox box);  // records the box
  std::vector<HeadlessBox> boxes;

  // Folder browser: results in order (nothing = cancelled); requests recorded.
  std::deque<std::optional<Str>> browseResults;
  std::vector<HeadlessBrowse> browses;

  bool workAreaAvailable = true;
  Rect workArea{0, 0, 1920, 1040};

  std::vector<int> runs;  // template id of every modal run, in order

 private:
  std::vector<std::pair<int, HeadlessScript>> scripts_;
  std::deque<int> answers_;
  HeadlessDesk* previousDesk_;
  ViewFactory previousFactory_;
};

// The current desk, or null.
HeadlessDesk* CurrentHeadlessDesk();
// The cautious answer to a box of `style` (see above).
int CautiousAnswer(std::uint32_t style);

class HeadlessView : public IDialogView {
 public:
  HeadlessView(WindowHandle parent, int templateId);
  ~HeadlessView() override;


  // ---- The user's actions (false when the dialog is not running or the control is
  // missing, hidden or disabled, as a user could not do it).
  bool Click(int id);                      // buttons, check boxes; 1 = OK, 2 = Cancel
  bool TypeText(int id, const Str& text);  // replaces an edit's text
  bool ClickRow(int id, int row, bool extend = false);  // extend: Ctrl+click
  bool DoubleClickRow(int id, int row);
  bool ChooseComboItem(int id, int index);
  bool PressF1();
  bool PressEnter();   // the default button: OK
  bool PressEscape();  // Cancel
  // Dispatches posted messages until `until` holds or `timeoutMs` passes; true when it
  // holds. Messages posted from other threads wake the wait.
  bool Pump(int timeoutMs, const std::function<bool()>& until);

  bool Running() const { return running_ && !ended_; }

  // ---- Inspection.
  int FocusedControl() const { return focus_; }
  bool WaitCursor() const { return waitCursor_; }
  int WaitCursorCount() const { return waitCursorCount_; }
  bool AutoCompleteOn(int id) const;
  int ColumnCount(int id) const;
  Str ColumnText(int id, int column) const;
  int ColumnWidth(int id, int column) const;
  std::uint32_t ListExtendedStyle(int id) const;

  // ---- IDialogView.
  int RunModal(CDialogLogic& logic) override;
  void EndDialog(int result) override;
  WindowHandle Handle() const override;

  Str Caption() const override { return caption_; }
  void SetCaption(const Str& text) override { caption_ = text; }
  Rect WindowRect() const override { return window_; }
  void MoveWindowTo(const Rect& rect, std::uint32_t flags) override;
  bool MonitorWorkArea(Rect* area) const override;

  void EnableControl(int id, bool enable) override;
  bool IsControlEnabled(int id) const override;
  void ShowControl(int id, bool show) override;
  bool IsControlVisible(int id) const override;
  void SetCheck(int id, bool checked) override;
  bool IsChecked(int id) const override;
  Str ControlText(int id) const override;
  void SetControlText(int id, const Str& text) override;
  Rect ControlRect(int id) const override;
  void MoveControlTo(int id, const Rect& rect, std::uint32_t flags) override;
  void SetFocusTo(int id) override;

  void InsertColumn(int id, int column, const Str& text, int format, int width) override;
  void SetColumnWidth(int id, int column, int width) override;
  int ListClientWidth(int id) const override;
  int ListOuterWidth(int id) const override;
  void AddListExtendedStyle(int id, std::uint32_t style) override;
  int InsertItem(int id, const Str& column0) override;
  void SetItemText(int id, int row, int column, const Str& text) override;
  Str ItemText(int id, int row, int column) const override;
  bool DeleteItem(int id, int row) override;
  void DeleteAllItems(int id) override;
  int ItemCount(int id) const override;
  void SetItemData(int id, int row, std::intptr_t data) override;
  std::intptr_t ItemData(int id, int row) const override;
  void SetItemState(int id, int row, std::uint32_t state, std::uint32_t mask) override;
  std::uint32_t ItemState(int id, int row, std::uint32_t mask) const override;
  int NextSelected(int id, int after) const override;

  int AddString(int id, const Str& text) override;
  int ComboCount(int id) const override;
  Str ComboText(int id, int index) const override;
  void SetComboData(int id, int index, std::intptr_t data) override;
  std::intptr_t ComboData(int id, int index) const override;
  void SetCurSel(int id, int index) override;
  int CurSel(int id) const override;

  void EnableAutoComplete(int id) override;
  std::optional<Str> BrowseForFolder(const Str& initialPath, const Str& title) override;

  int MessageBoxId(std::uint32_t stringId, std::uint32_t style) override;
  int MessageBoxText(const Str& text, std::uint32_t style) override;

  void SetWaitCursor(bool on) override;

  bool Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;
  std::shared_ptr<IMessagePoster> Poster() override;

 private:
  struct Row {
    std::vector<Str> texts;
    std::intptr_t data = 0;
    std::uint32_t state = 0;
  };
  struct Column {
    Str text;
    int format = 0;
    int width = 0;
  };
  struct ComboItem {
    Str text;
    std::intptr_t data = 0;
  };
  struct Control {
    const templates::ControlTemplate* source = nullptr;
    Rect rect;
    bool enabled = true;
    bool visible = true;
    bool checked = false;
    bool autoComplete = false;
    Str text;
    std::vector<Column> columns;
    std::vector<Row> rows;
    std::uint32_t extendedStyle = 0;
    std::vector<ComboItem> items;
    int curSel = -1;
  };
  struct Message {
    std::uint32_t message;
    std::uintptr_t wParam;
    std::intptr_t lParam;
  };
 public:
  // Shared with the posters, which may outlive the view.
  struct Queue {
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<Message> messages;
    bool open = false;
  };

 private:
  Control* Find(int id);
  const Control* Find(int id) const;
  Control* FindList(int id);
  const Control* FindList(int id) const;
  Control* Usable(int id);  // running, present, visible, enabled
  void Build(const templates::DialogTemplate& dialog);
  // Changes one row's state bits and notifies when they changed.
  void ChangeRowState(int id, Control& list, int row, std::uint32_t state, std::uint32_t mask);
  void Notify(int id, es::Notify code);
  void DispatchPosted();
  // From OnInitDialog to the end of the user's actions.
  void RunEvents(CDialogLogic& logic, const std::optional<HeadlessScript>& script);

  WindowHandle parent_;
  int templateId_;
  CDialogLogic* logic_ = nullptr;
  bool running_ = false;
  bool ended_ = false;
  int result_ = kIdCancel;
  Str caption_;
  Rect window_;
  std::vector<Control> controls_;
  int focus_ = 0;
  bool waitCursor_ = false;
  int waitCursorCount_ = 0;
  std::shared_ptr<Queue> queue_;
};

}  // namespace es
