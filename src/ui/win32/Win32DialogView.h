// The Win32 backend of the dialog view: a real modal dialog built from the module's
// dialog template, every view operation backed by the real control. The dialog logic
// (configure, edit, scan selection) never sees a window handle other than Handle().
//
// Window handles are kept as void* here so that this header does not pull <windows.h>
// into the code that includes it.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>

#include "ui/DialogView.h"

namespace es {

class Win32MessagePoster;

class Win32DialogView final : public IDialogView {
 public:
  // `resources` is the module that holds the template; `parent` owns the dialog.
  Win32DialogView(void* resources, WindowHandle parent, int templateId);
  ~Win32DialogView() override;
  Win32DialogView(const Win32DialogView&) = delete;
  Win32DialogView& operator=(const Win32DialogView&) = delete;

  int RunModal(CDialogLogic& logic) override;
  void EndDialog(int result) override;
  WindowHandle Handle() const override { return window_; }

  Str Caption() const override;
  void SetCaption(const Str& text) override;
  Rect WindowRect() const override;
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

  // The dialog procedure's half: runs one message for the logic. Returns what the
  // dialog procedure returns; `*result` is the message result where one is due.
  bool Dispatch(void* window, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                std::intptr_t* result);

 private:
  void* Control(int id) const;
  // Runs a handler of the logic; an exception ends the dialog and is rethrown by
  // RunModal once the window is gone, so that it never crosses the system's frames.
  template <typename F>
  void Guarded(F&& handler);

  void* resources_;
  WindowHandle parent_;
  int templateId_;
  WindowHandle window_ = nullptr;
  CDialogLogic* logic_ = nullptr;
  std::shared_ptr<Win32MessagePoster> poster_;
  std::exception_ptr pending_;
  int waitDepth_ = 0;
  void* cursorBeforeWait_ = nullptr;
};

}  // namespace es
