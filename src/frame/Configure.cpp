#include "frame/Element.h"
#include "frame/Scan.h"
#include "ui/DlgCfg.h"

namespace es {

std::int32_t RunConfigure(CElement& element, WindowHandle parent, bool allowScan, const char16_t* captionFormat,
                          bool captionGiven) {
  CDlgConfigure dialog(parent);
  dialog.selectedDirectory = element.SelectedPath;
  dialog.registeredDirectories = element.directories;
  dialog.storageNames = element.storageNames;
  dialog.deleteImages = element.DeleteFaxes != 0 ? 1 : 0;
  dialog.deleteGroupFolder = element.DeleteGroupFolder != 0 ? 1 : 0;
  dialog.allowScan = allowScan;
  if (captionGiven) {
    dialog.captionGiven = true;
    dialog.captionFormat = captionFormat != nullptr ? Str(captionFormat) : Str();
  }
  const int result = dialog.DoModal();
  if (result != kIdOk && result != kResultScanAndClose) return 1;
  // The host saves when it chooses; nothing is written here.
  element.SelectedPath = dialog.selectedDirectory;
  element.directories = dialog.registeredDirectories;
  element.DeleteFaxes = dialog.deleteImages;
  element.DeleteGroupFolder = dialog.deleteGroupFolder;
  element.RebuildStorageNames();
  return result == kIdOk ? 0 : kResultScanAndClose;
}

}  // namespace es
