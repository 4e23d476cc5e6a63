// What the import needs of the element that runs it: the deletion switches of its
// settings, the host's callback, and the state of the group in hand. The element is one;
// the pre-flight check makes its own.
#pragma once

#include <cstdint>

#include "base/Text.h"
#include "es/HostInterfaces.h"
#include "storage/SeenEntry.h"

namespace es {

class Folder;

struct ImportState {
  // Settings.
  std::int32_t AllowRescanning = 1;
  std::int32_t DeleteFaxes = 1;
  std::int32_t DeleteGroupFolder = 1;

  IScanningCallback* callback = nullptr;  // not owned; valid while a scan runs

  // The group in hand.
  WindowHandle parentWindow = nullptr;
  Str lastPageName;
  Str damagedPages;
  Str damagedHeader;
  Str orderFilePath;
  Str groupPath;
  Str pendingDocumentName;
  // Its folder, opened once for the whole group (null between groups); what the pending
  // document's import saw in its folder, which alone its finishing deletes; and whether
  // the pending document is to stay without a report (something in it could not be read,
  // and the trace says what).
  const Folder* groupFolder = nullptr;
  SeenEntries pendingEntries;
  bool pendingKeep = false;
};

}  // namespace es
