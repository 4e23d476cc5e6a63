// The scan selection dialog: the user picks a storage and groups of documents; in an
// unattended scan the same class collects every available group of a storage without
// showing a window.
#pragma once

#include "es/HostInterfaces.h"
#include "frame/Text.h"

namespace es {

class CDlgScan {
 public:
  explicit CDlgScan(WindowHandle parent);
  ~CDlgScan();
  CDlgScan(const CDlgScan&) = delete;
  CDlgScan& operator=(const CDlgScan&) = delete;

  // Every available group of `directory`, in the storage's order, into the selected
  // group paths and names. No window, no counting.
  void CollectGroups(const Str& directory);

  WindowHandle parent;
  Str currentStorageDirectory;  // expanded
  StrArray registeredDirectories;
  StrArray storageNames;
  StrArray selectedGroupPaths;
  StrArray selectedGroupNames;
  Str preselectedDirectory;
};

// Runs the dialog modally: 1 when the user chose groups and pressed Scan.
int RunScanDialog(CDlgScan& dialog);

}  // namespace es
