#include "frame/Scan.h"

#include "storage/GroupImport.h"
#include "ui/DlgScan.h"

namespace es {

void RunScan(CElement& element, WindowHandle parent) {
  CDlgScan dialog(parent);
  dialog.preselectedDirectory = element.SelectedPath;
  dialog.registeredDirectories = element.directories;
  dialog.storageNames = element.storageNames;
  if (element.callback->IsUnattended()) {
    // Every registered storage in turn; one storage's outcome does not stop the next.
    for (const Str& directory : element.directories) {
      dialog.CollectGroups(directory);
      ImportGroups(element, dialog.selectedGroupPaths, dialog.selectedGroupNames, parent);
    }
    return;
  }
  // The interactive selection runs the scan dialog; without it nothing is chosen.
  if (RunScanDialog(dialog) == 1) ImportGroups(element, dialog.selectedGroupPaths, dialog.selectedGroupNames, parent);
}

}  // namespace es
