#include "ui/DlgScan.h"

#include "platform/Platform.h"
#include "storage/Layout.h"
#include "storage/Listing.h"

namespace es {

CDlgScan::CDlgScan(WindowHandle parentWindow) : parent(parentWindow) {}

CDlgScan::~CDlgScan() = default;

void CDlgScan::CollectGroups(const Str& directory) {
  // The directory is expanded as the dialog expands it, so that a storage registered
  // with an environment reference is imported unattended too.
  Str expanded;
  if (!platform::Os().ExpandEnvironment(directory, layout::kPathCapacity, &expanded)) expanded = directory;
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

// The interactive selection is not available in this build: the dialog ends as if
// cancelled, so nothing is imported.
int RunScanDialog(CDlgScan&) { return 2; }

}  // namespace es
