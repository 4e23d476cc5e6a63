// The scan selection dialog: the user picks a registered storage and groups of documents
// of it; the list shows each group's name and, once the worker has counted them, its
// number of documents. In an unattended scan the same class collects every available
// group of a storage without showing a window.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "es/HostInterfaces.h"
#include "base/Text.h"
#include "ui/DialogView.h"
#include "ui/EnumerationWorker.h"

namespace es {

class CDlgScan : public CDialogLogic {
 public:
  // Creates the worker's SlotFree event.
  explicit CDlgScan(WindowHandle parent);
  ~CDlgScan() override;
  CDlgScan(const CDlgScan&) = delete;
  CDlgScan& operator=(const CDlgScan&) = delete;

  // Runs the dialog modally: 1 (OK) with the selected group paths and names filled, 2
  // when cancelled, -1 when the dialog could not be created.
  int DoModal();

  // Every available group of `directory`, in the storage's order, into the selected
  // group paths and names. No window, no counting.
  void CollectGroups(const Str& directory);

  // What the storage combo shows for a storage: its name, or " (no name)".
  static Str StorageLabel(const Str& name);

  // The dialog's handlers (called by the view during the modal run).
  bool OnInitDialog() override;
  void OnCommand(int controlId, Command code) override;
  void OnNotify(int controlId, Notify code) override;
  std::intptr_t OnMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;
  // There is no OK button: Enter presses Scan, the default button.
  void OnOK() override;
  // The window goes: the worker is stopped and the rows freed.
  void OnDestroy() override;

  void FillGroupList();
  void ClearGroupList();
  void UpdateScanButton();
  void OnScan();
  void OnStorageChanged();
  void OnRefresh();
  std::intptr_t OnGroupCounted();
  // The worker for the rows just listed; false when none was started.
  bool StartWorker(const StrArray& folderNames, const StrArray& groupNames);
  // True when no worker is left running.
  bool StopWorker();

  WindowHandle parent;
  Str currentStorageDirectory;  // expanded; empty: none chosen
  StrArray registeredDirectories;
  StrArray storageNames;
  StrArray selectedGroupPaths;
  StrArray selectedGroupNames;
  Str preselectedDirectory;

 private:
  static Str Expanded(const Str& directory);

  CEnumerationWorker worker_;
  std::unordered_map<Str, std::vector<int>> rowsOfFolder_;  // rows of each folder, ascending
};

// Runs the dialog modally: 1 when the user chose groups and pressed Scan.
int RunScanDialog(CDlgScan& dialog);

}  // namespace es
