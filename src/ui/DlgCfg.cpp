#include "ui/DlgCfg.h"

#include <exception>

#include "Brivel.h"
#include "base/Trace.h"
#include "ResourceIds.h"
#include "storage/StorageName.h"
#include "ui/EditESDlg.h"

namespace es {

namespace {

constexpr int kList = IDC_STORAGE_LIST;
constexpr std::uint32_t kBothStates = kLvisSelected | kLvisFocused;

}  // namespace

CDlgConfigure::CDlgConfigure(WindowHandle parent) : CDialogLogic(IDD_CONFIGURE), parent_(parent) {}

int CDlgConfigure::DoModal() {
  std::unique_ptr<IDialogView> view = CreateView(parent_, IDD_CONFIGURE);
  if (!view) return -1;
  return view->RunModal(*this);
}

Str CDlgConfigure::FormatCaption(const Str& format, const Str& argument) {
  Str out;
  bool filled = false;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != u'%' || i + 1 >= format.size()) {
      out.push_back(format[i]);
      continue;
    }
    const StrView rest = StrView(format).substr(i + 1);
    if (rest[0] == u'%') {
      out.push_back(u'%');
      ++i;
    } else if (!filled && (rest.starts_with(u"s") || rest.starts_with(u"S"))) {
      out += argument;
      filled = true;
      i += 1;
    } else if (!filled && (rest.starts_with(u"ls") || rest.starts_with(u"ws"))) {
      out += argument;
      filled = true;
      i += 2;
    } else {
      out.push_back(u'%');
    }
  }
  return out;
}

bool CDlgConfigure::OnInitDialog() {
  IDialogView& view = View();
  view.SetWaitCursor(true);
  FitToWorkArea();

  if (captionGiven) {
    view.SetCaption(FormatCaption(captionFormat, LoadDialogString(IDS_DISPLAY_NAME)));
    captionGiven = false;
  }

  if (!allowScan) {
    view.ShowControl(IDC_SCAN, false);
    view.EnableControl(IDC_SCAN, false);
    // Cancel takes the place of the hidden button's right edge; OK keeps its distance.
    const int shift = view.ControlRect(IDC_SCAN).right - view.ControlRect(kIdCancel).right;
    for (int id : {kIdCancel, kIdOk}) {
      Rect r = view.ControlRect(id);
      r.left += shift;
      r.right += shift;
      view.MoveControlTo(id, r, kNoSize | kNoZOrder | kNoActivate);
    }
  }

  view.SetCheck(IDC_DELETE_IMAGES, deleteImages != 0);
  if (deleteImages == 0) {
    // The member follows the box, so that the group folder is never deleted while the
    // images are kept, and so that the box's click handler inverts what it shows.
    deleteGroupFolder = 0;
    view.EnableControl(IDC_DELETE_GROUP_FOLDER, false);
    view.SetCheck(IDC_DELETE_GROUP_FOLDER, false);
  } else {
    view.SetCheck(IDC_DELETE_GROUP_FOLDER, deleteGroupFolder != 0);
  }

  InitColumns();
  int remembered = -1;
  for (std::size_t i = 0; i < registeredDirectories.size(); ++i) {
    const Str& directory = registeredDirectories[i];
    const int row = view.InsertItem(kList, directory);
    if (row < 0) continue;
    // A row sorted in above the remembered one moves it down.
    if (remembered >= row) ++remembered;
    view.SetItemText(kList, row, 1, NameOrNotFound(i < storageNames.size() ? storageNames[i] : Str()));
    if (directory == selectedDirectory) remembered = row;
  }
  if (remembered >= 0) SelectRow(remembered);

  UpdateButtons();
  view.SetWaitCursor(false);
  return true;
}

void CDlgConfigure::FitToWorkArea() {
  try {
    IDialogView& view = View();
    Rect area;
    if (!view.MonitorWorkArea(&area)) return;
    const int available = area.Height();
    if (available <= 0) return;
    const int maxHeight = static_cast<int>(static_cast<double>(available) * 0.9);
    const Rect window = view.WindowRect();
    const int height = window.Height();
    if (height <= maxHeight) return;  // never enlarged
    Trace(kSevLayout, kSourceConfigure, __LINE__, "Configure external storage dialog: resize height to %d",
          maxHeight);
    view.MoveWindowTo(Rect{window.left, window.top, window.right, window.top + maxHeight},
                      kNoZOrder | kNoActivate);
    const int d = height - maxHeight;
    Rect list = view.ControlRect(kList);
    list.bottom -= d;
    view.MoveControlTo(kList, list, kNoZOrder | kNoActivate);
    for (int id : {IDC_DELETE_IMAGES, IDC_DELETE_GROUP_FOLDER, kIdOk, kIdCancel, IDC_SCAN, IDC_HELP_BUTTON})
      MoveControlUp(id, d);
  } catch (const std::exception&) {
    Trace(kSevProgress, kSourceConfigure, __LINE__, "internal error occurred");
  } catch (...) {
    Trace(kSevProgress, kSourceConfigure, __LINE__, "internal error occurred");
  }
}

void CDlgConfigure::MoveControlUp(int id, int d) {
  Rect r = View().ControlRect(id);
  r.top -= d;
  r.bottom -= d;
  View().MoveControlTo(id, r, kNoSize | kNoZOrder | kNoActivate);
}

void CDlgConfigure::InitColumns() {
  IDialogView& view = View();
  const int half = view.ListClientWidth(kList) / 2;
  view.InsertColumn(kList, 0, LoadDialogString(IDS_COLUMN_DIRECTORY), kLvcfmtLeft, half);
  view.InsertColumn(kList, 1, LoadDialogString(IDS_COLUMN_NAME), kLvcfmtLeft, half);
  view.SetColumnWidth(kList, 0, half);
  view.SetColumnWidth(kList, 1, half);
}

Str CDlgConfigure::NameOrNotFound(const Str& name) const {
  return name.empty() ? LoadDialogString(IDS_NOT_FOUND) : name;
}

void CDlgConfigure::UpdateButtons() {
  IDialogView& view = View();
  const bool enabled = view.NextSelected(kList, -1) != -1;
  view.EnableControl(IDC_EDIT, enabled);
  view.EnableControl(IDC_REMOVE, enabled);
  view.EnableControl(IDC_SCAN, enabled);
}

void CDlgConfigure::SelectRow(int row) { View().SetItemState(kList, row, kBothStates, kBothStates); }

void CDlgConfigure::OnCommand(int controlId, Command code) {
  if (code != Command::kClicked) return;
  switch (controlId) {
    case IDC_SCAN:
      OnScanAndClose();
      break;
    case IDC_EDIT:
      OnEdit();
      break;
    case IDC_REGISTER:
      OnRegister();
      break;
    case IDC_REMOVE:
      OnRemove();
      break;
    case IDC_DELETE_IMAGES:
      OnDeleteImages();
      break;
    case IDC_DELETE_GROUP_FOLDER:
      OnDeleteGroupFolder();
      break;
    case IDC_HELP_BUTTON:
      ShowHelp();
      break;
    default:
      break;
  }
}

void CDlgConfigure::OnNotify(int controlId, Notify code) {
  if (controlId != kList) return;
  if (code == Notify::kDoubleClick) {
    OnEdit();
  } else {
    UpdateButtons();
  }
}


void CDlgConfigure::OnRegister() {
  CEditESDlg edit(ListRef{&View(), kList}, Str(), LoadDialogString(IDS_REGISTER_CAPTION), -1, View().Handle());
  if (edit.DoModal() == kIdOk) {
    const int row = View().InsertItem(kList, edit.directory);
    if (row >= 0) {
      View().SetItemText(kList, row, 1, NameOrNotFound(ReadStorageName(edit.directory)));
      SelectRow(row);
    }
  }
  UpdateButtons();
}

void CDlgConfigure::OnEdit() {
  int row = View().NextSelected(kList, -1);
  if (row < 0) return;
  CEditESDlg edit(ListRef{&View(), kList}, View().ItemText(kList, row, 0), std::nullopt, row, View().Handle());
  if (edit.DoModal() == kIdOk) {
    View().DeleteItem(kList, row);
    row = View().InsertItem(kList, edit.directory);
    if (row < 0) return;
    View().SetItemText(kList, row, 1, NameOrNotFound(ReadStorageName(edit.directory)));
  }
  SelectRow(row);
}

void CDlgConfigure::OnRemove() {
  const int row = View().NextSelected(kList, -1);
  if (row < 0) return;
  if (View().MessageBoxId(IDS_ASK_REMOVE, kMbYesNo | kMbIconQuestion | kMbDefButton2) == kIdYes) {
    View().DeleteItem(kList, row);
    const int next = row >= View().ItemCount(kList) ? row - 1 : row;
    if (next >= 0) SelectRow(next);
  }
  UpdateButtons();
  View().SetFocusTo(kList);
}

bool CDlgConfigure::Accept() {
  if (View().ItemCount(kList) == 0 &&
      View().MessageBoxId(IDS_ASK_CLOSE_EMPTY, kMbYesNo | kMbIconExclamation) != kIdYes)
    return false;
  StoreList();
  return true;
}

void CDlgConfigure::OnOK() {
  if (Accept()) View().EndDialog(kIdOk);
}

void CDlgConfigure::OnScanAndClose() {
  if (Accept()) View().EndDialog(kResultScanAndClose);
}

void CDlgConfigure::StoreList() {
  registeredDirectories.clear();
  const int count = View().ItemCount(kList);
  for (int row = 0; row < count; ++row) {
    Str text = View().ItemText(kList, row, 0);
    if (View().ItemState(kList, row, kLvisSelected) != 0) selectedDirectory = text;
    registeredDirectories.push_back(std::move(text));
  }
}

void CDlgConfigure::OnDeleteImages() {
  const bool wasOn = deleteImages != 0;
  deleteImages = wasOn ? 0 : 1;
  if (wasOn) {
    deleteGroupFolder = 0;
    View().SetCheck(IDC_DELETE_GROUP_FOLDER, false);
  }
  View().EnableControl(IDC_DELETE_GROUP_FOLDER, deleteImages != 0);
}

void CDlgConfigure::OnDeleteGroupFolder() { deleteGroupFolder = deleteGroupFolder != 0 ? 0 : 1; }

}  // namespace es
