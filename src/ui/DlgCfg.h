// The configure dialog: the registered External Storages (directory and name), Register,
// Edit and Remove through the edit dialog, the two clean-up switches, and OK, Cancel or
// Scan & Close. At start it shrinks itself to fit the monitor's work area.
#pragma once

#include <cstdint>

#include "base/Text.h"
#include "ui/DialogView.h"

namespace es {

// Dialog result of Scan & Close.
inline constexpr int kResultScanAndClose = 15001;

class CDlgConfigure : public CDialogLogic {
 public:
  explicit CDlgConfigure(WindowHandle parent);

  // Runs the dialog modally: 1 (OK), 15001 (Scan & Close), anything else cancelled.
  int DoModal();

  std::int32_t deleteImages = 0;       // DeleteFaxes
  std::int32_t deleteGroupFolder = 0;  // DeleteGroupFolder
  Str selectedDirectory;               // in: row to select; out: the selected row's directory
  StrArray registeredDirectories;      // in: registered; out: every row in list order
  StrArray storageNames;               // in only, parallel to the directories
  bool allowScan = false;              // show Scan & Close
  bool captionGiven = false;           // replace the caption at start (cleared once applied)
  Str captionFormat;                   // one string placeholder, filled with the display name

  bool OnInitDialog() override;
  void OnCommand(int controlId, Command code) override;
  void OnNotify(int controlId, Notify code) override;
  void OnOK() override;

  // The caption format with its string placeholder ("%s") replaced by `argument`; "%%"
  // gives one percent sign.
  static Str FormatCaption(const Str& format, const Str& argument);

 private:
  void FitToWorkArea();
  void MoveControlUp(int id, int d);
  void InitColumns();
  Str NameOrNotFound(const Str& name) const;
  void UpdateButtons();
  void OnRegister();
  void OnEdit();
  void OnRemove();
  void OnScanAndClose();
  // Asks before accepting an empty list, then stores it; false when the user stays.
  bool Accept();
  void StoreList();
  void OnDeleteImages();
  void OnDeleteGroupFolder();
  void SelectRow(int row);

  WindowHandle parent_;
};

}  // namespace es
