// The edit storage dialog: the user types or browses to the directory of an External
// Storage. It closes with OK only for an existing directory that no other row of the
// configure dialog's list names; the text is kept as typed, so environment references
// stay in the registration and are expanded whenever the directory is used.
#pragma once

#include <optional>

#include "base/Text.h"
#include "ui/DialogView.h"

namespace es {

// A list control of another dialog, read for the duplicate check.
struct ListRef {
  const IDialogView* view = nullptr;
  int id = 0;
  int Count() const { return view != nullptr ? view->ItemCount(id) : 0; }
  Str Text(int row, int column) const { return view != nullptr ? view->ItemText(id, row, column) : Str(); }
};

class CEditESDlg : public CDialogLogic {
 public:
  // `caption` absent or empty: the template's caption stays. `index`: the row being
  // edited, skipped by the duplicate check; -1 when registering.
  CEditESDlg(ListRef storageList, Str directory, std::optional<Str> caption, int index, WindowHandle parent);

  // Runs the dialog modally: 1 (OK) with `directory` holding the text entered, 2 when
  // cancelled, -1 when the dialog could not be created.
  int DoModal();

  Str caption;
  Str directory;
  int index;

  bool OnInitDialog() override;
  void OnCommand(int controlId, Command code) override;
  std::intptr_t OnMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;
  void OnOK() override;

 private:
  void OnBrowse();

  ListRef storageList_;
  WindowHandle parent_;
};

}  // namespace es
