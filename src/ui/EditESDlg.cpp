#include "ui/EditESDlg.h"

#include "Brivel.h"
#include "base/Trace.h"
#include "platform/Platform.h"
#include "ResourceIds.h"
#include "ui/StorageRegistry.h"

namespace es {

namespace {

// Directory texts are expanded into a buffer of this many characters, terminator included.
constexpr std::size_t kDirectoryCapacity = 260;

constexpr std::uint32_t kStopBox = kMbOk | kMbIconStop;

}  // namespace

CEditESDlg::CEditESDlg(ListRef storageList, Str directoryText, std::optional<Str> captionText, int row,
                       WindowHandle parent)
    : CDialogLogic(IDD_EDIT_STORAGE),
      caption(captionText ? std::move(*captionText) : Str()),
      directory(std::move(directoryText)),
      index(row),
      storageList_(storageList),
      parent_(parent) {}

int CEditESDlg::DoModal() {
  std::unique_ptr<IDialogView> view = CreateView(parent_, IDD_EDIT_STORAGE);
  if (!view) return -1;
  return view->RunModal(*this);
}

bool CEditESDlg::OnInitDialog() {
  View().SetControlText(IDC_DIRECTORY, directory);
  View().EnableAutoComplete(IDC_DIRECTORY);
  if (!caption.empty()) View().SetCaption(caption);
  return true;
}

void CEditESDlg::OnCommand(int controlId, Command code) {
  if (code != Command::kClicked) return;
  if (controlId == IDC_HELP_BUTTON) ShowHelp();
  if (controlId == IDC_BROWSE) OnBrowse();
}


std::intptr_t CEditESDlg::OnMessage(std::uint32_t message, std::uintptr_t, std::intptr_t) {
  if (message == kWmCommandHelp) ShowHelp();
  return 0;
}


void CEditESDlg::OnOK() {
  directory = View().ControlText(IDC_DIRECTORY);
  StrArray registered;
  for (int row = 0; row < storageList_.Count(); ++row) registered.push_back(storageList_.Text(row, 0));
  switch (StorageRegistry::Check(directory, registered, index)) {
    case Registration::InvalidDirectory:
      View().MessageBoxId(IDS_INVALID_DIRECTORY, kStopBox);
      View().SetFocusTo(IDC_DIRECTORY);
      return;
    case Registration::AlreadyRegistered:
      View().MessageBoxId(IDS_ALREADY_REGISTERED, kStopBox);
      return;
    case Registration::Accepted:
    case Registration::NotRegistered:
      break;
  }
  View().EndDialog(kIdOk);
}

void CEditESDlg::OnBrowse() {
  // The browser starts from at most 259 characters of the edit text, as its buffer holds.
  Str start = View().ControlText(IDC_DIRECTORY);
  if (start.size() >= kDirectoryCapacity) start.resize(kDirectoryCapacity - 1);
  const Str title = LoadDialogString(IDS_SELECT_DIRECTORY);
  std::optional<Str> chosen = View().BrowseForFolder(start, title);
  if (chosen && chosen->size() < kDirectoryCapacity) View().SetControlText(IDC_DIRECTORY, *chosen);
}

}  // namespace es
