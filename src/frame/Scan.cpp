#include "frame/Scan.h"

#include "storage/GroupImport.h"
#include "ui/DlgScan.h"

namespace es {

// Storages are configured through the configuration dialog; until it exists an element
// answers as a cancelled dialog does: nothing changes.
std::int32_t RunConfigure(CElement&, WindowHandle, bool, const char16_t*, bool) { return 1; }

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
