#include "ui/DlgScan.h"

#include <memory>

#include "Brivel.h"
#include "base/Trace.h"
#include "platform/Platform.h"
#include "ResourceIds.h"
#include "storage/Layout.h"
#include "storage/Listing.h"

namespace es {

namespace {

constexpr int kList = IDC_GROUP_LIST;
constexpr int kCombo = IDC_STORAGE_COMBO;

// Each row's item data is a heap copy of its group's folder name, zero-terminated; the
// list owns it until ClearGroupList.
std::intptr_t NewFolderCopy(const Str& folder) {
  auto copy = std::make_unique<char16_t[]>(folder.size() + 1);
  folder.copy(copy.get(), folder.size());
  copy[folder.size()] = u'\0';
  return reinterpret_cast<std::intptr_t>(copy.release());
}

void FreeFolderCopy(std::intptr_t data) { std::unique_ptr<char16_t[]> owned(reinterpret_cast<char16_t*>(data)); }

Str FolderOfRow(const IDialogView& view, int row) {
  const auto* text = reinterpret_cast<const char16_t*>(view.ItemData(kList, row));
  return text != nullptr ? Str(text) : Str();
}

}  // namespace

CDlgScan::CDlgScan(WindowHandle parentWindow) : CDialogLogic(IDD_SCAN), parent(parentWindow) {}

CDlgScan::~CDlgScan() = default;

int CDlgScan::DoModal() {
  std::unique_ptr<IDialogView> view = CreateView(parent, IDD_SCAN);
  if (!view) return -1;
  return view->RunModal(*this);
}

Str CDlgScan::Expanded(const Str& directory) {
  Str expanded;
  if (!platform::Os().ExpandEnvironment(directory, layout::kPathCapacity, &expanded)) expanded = directory;
  return expanded;
}

void CDlgScan::CollectGroups(const Str& directory) {
  // The directory is expanded as the dialog expands it, so that a storage registered
  // with an environment reference is imported unattended too.
  const Str expanded = Expanded(directory);
  StrArray folders;
  StrArray names;
  DiscoverGroups(expanded, folders, names);
  selectedGroupNames.clear();
  selectedGroupPaths.clear();
  for (std::size_t i = 0; i < folders.size(); ++i) {
    selectedGroupNames.push_back(names[i]);
    selectedGroupPaths.push_back(JoinPath(expanded, folders[i]));
  }
}

Str CDlgScan::StorageLabel(const Str& name) {
  if (!name.empty()) return name;
  return name + u" (" + LoadDialogString(IDS_NO_NAME) + u")";
}

bool CDlgScan::OnInitDialog() {
  IDialogView& view = View();
  view.SetWaitCursor(true);

  for (std::size_t i = 0; i < registeredDirectories.size(); ++i) {
    const int entry = view.AddString(kCombo, StorageLabel(i < storageNames.size() ? storageNames[i] : Str()));
    if (entry < 0) continue;
    view.SetComboData(kCombo, entry, static_cast<std::intptr_t>(i));
    // Compared as registered, references unexpanded; the last match wins.
    if (registeredDirectories[i] == preselectedDirectory) {
      currentStorageDirectory = Expanded(registeredDirectories[i]);
      view.SetCurSel(kCombo, entry);
    }
  }

  view.AddListExtendedStyle(kList, kLvsExFullRowSelect);
  view.InsertColumn(kList, 0, LoadDialogString(IDS_COLUMN_GROUP_NAME), kLvcfmtLeft, 0);
  view.InsertColumn(kList, 1, LoadDialogString(IDS_COLUMN_DOCUMENT_COUNT), kLvcfmtLeft, 0);
  // About 70 % and 30 % of the list's width.
  const int width = view.ListOuterWidth(kList);
  view.SetColumnWidth(kList, 0, width * 1000 / 1428);
  view.SetColumnWidth(kList, 1, width * 1000 / 3333);

  if (!currentStorageDirectory.empty()) FillGroupList();

  view.SetWaitCursor(false);
  UpdateScanButton();
  return true;
}

void CDlgScan::FillGroupList() {
  ClearGroupList();
  StrArray folders;
  StrArray names;
  DiscoverGroups(currentStorageDirectory, folders, names);
  IDialogView& view = View();
  for (std::size_t i = 0; i < folders.size(); ++i) {
    const std::intptr_t copy = NewFolderCopy(folders[i]);
    // Inserted at the top; the list's ascending sort places the row.
    const int row = view.InsertItem(kList, names[i]);
    if (row < 0) {
      FreeFolderCopy(copy);
      continue;
    }
    view.SetItemData(kList, row, copy);
    view.SetItemText(kList, row, 1, u"?");
  }
  // The rows stay where they are until the next reload: index them by folder, so that
  // each count finds its row without a walk over thousands of rows.
  for (int row = 0; row < view.ItemCount(kList); ++row) rowsOfFolder_[FolderOfRow(view, row)].push_back(row);
  StartWorker(folders, names);
}

void CDlgScan::ClearGroupList() {
  // Before the rows go: a count must never be written into a freed row.
  StopWorker();
  rowsOfFolder_.clear();
  if (!HasView()) return;
  IDialogView& view = View();
  const int count = view.ItemCount(kList);
  if (count == 0) return;
  for (int row = 0; row < count; ++row) {
    FreeFolderCopy(view.ItemData(kList, row));
    view.SetItemData(kList, row, 0);
  }
  view.DeleteAllItems(kList);
}

void CDlgScan::UpdateScanButton() { View().EnableControl(IDC_SCAN, View().NextSelected(kList, -1) != -1); }

void CDlgScan::OnScan() {
  IDialogView& view = View();
  selectedGroupPaths.clear();
  selectedGroupNames.clear();
  // In display order: the list's own sort of the group names.
  for (int row = view.NextSelected(kList, -1); row != -1; row = view.NextSelected(kList, row)) {
    selectedGroupNames.push_back(view.ItemText(kList, row, 0));
    selectedGroupPaths.push_back(JoinPath(currentStorageDirectory, FolderOfRow(view, row)));
  }
  if (selectedGroupPaths.empty()) return;
  ClearGroupList();
  view.EndDialog(kIdOk);
}

void CDlgScan::OnStorageChanged() {
  IDialogView& view = View();
  const int entry = view.CurSel(kCombo);
  const std::intptr_t index = entry >= 0 ? view.ComboData(kCombo, entry) : -1;
  if (index >= 0 && static_cast<std::size_t>(index) < registeredDirectories.size())
    currentStorageDirectory = Expanded(registeredDirectories[static_cast<std::size_t>(index)]);
  OnRefresh();
}

void CDlgScan::OnRefresh() {
  View().SetWaitCursor(true);
  if (!currentStorageDirectory.empty()) FillGroupList();
  View().SetWaitCursor(false);
  // Rows that went took their selection with them.
  UpdateScanButton();
}

std::intptr_t CDlgScan::OnGroupCounted() {
  ResultSlot result;
  if (!worker_.TakeResult(&result)) return 0;
  if (!HasView()) return 0;
  IDialogView& view = View();
  // The first row of that group name and folder; the folder decides between groups of
  // equal names. Only the rows of that folder are looked at, in row order.
  const auto rows = rowsOfFolder_.find(result.folderName);
  if (rows == rowsOfFolder_.end()) return 0;
  for (int row : rows->second) {
    if (view.ItemText(kList, row, 0) != result.groupName || FolderOfRow(view, row) != result.folderName) continue;
    view.SetItemText(kList, row, 1, result.count);
    break;
  }
  return 0;
}

bool CDlgScan::StartWorker(const StrArray& folderNames, const StrArray& groupNames) {
  return worker_.Start(View().Poster(), currentStorageDirectory, folderNames, groupNames);
}

bool CDlgScan::StopWorker() { return worker_.Stop(); }

void CDlgScan::OnCommand(int controlId, Command code) {
  if (controlId == kCombo) {
    if (code == Command::kSelChange) OnStorageChanged();
    return;
  }
  if (code != Command::kClicked) return;
  switch (controlId) {
    case IDC_SCAN:
      OnScan();
      break;
    case IDC_REFRESH:
      OnRefresh();
      break;
    case IDC_HELP_BUTTON:
      ShowHelp();
      break;
    default:
      break;
  }
}

void CDlgScan::OnNotify(int controlId, Notify code) {
  if (controlId != kList) return;
  if (code == Notify::kDoubleClick) {
    OnScan();
  } else {
    UpdateScanButton();
  }
}


std::intptr_t CDlgScan::OnMessage(std::uint32_t message, std::uintptr_t, std::intptr_t) {
  if (message == WM_GROUP_COUNTED) return OnGroupCounted();
  return 0;
}

void CDlgScan::OnOK() { OnScan(); }

void CDlgScan::OnDestroy() { ClearGroupList(); }

int RunScanDialog(CDlgScan& dialog) { return dialog.DoModal(); }

}  // namespace es
