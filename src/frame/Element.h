// The scanning element the host drives: settings, default attributes, configure, scan.
#pragma once

#include <cstdint>

#include "es/HostInterfaces.h"
#include "frame/Text.h"
#include "frame/VAVudiImplement.h"
#include "storage/SeenEntry.h"

namespace es {

class Folder;

class CVAVudiImplement::CElement final : public IElementScanning {
 public:
  explicit CElement(const ElementTypeDescriptor* descriptor);

  // IElement
  void DeleteThis() override;
  const char16_t* GetTypeName() override;
  HResult GetDisplayName(char16_t* buffer, std::int32_t capacity) override;
  IconHandle GetIcon() override;
  std::int32_t LoadSettings(ISettingsStore* store) override;
  HResult SaveSettings(ISettingsStore* store) override;
  bool QueryFlag6() override;
  std::int32_t InitializeAttributes(CAttrContainer* container, IInitializeSite* site) override;
  // IElementScanning
  bool QueryFlag8() override;
  bool QueryFlag9() override;
  bool QueryFlag10() override;
  bool QueryFlag11() override;
  std::uint32_t GetElementFlags() override;
  std::int32_t Configure(WindowHandle parent, bool allowScan, const char16_t* captionFormat,
                         bool captionGiven) override;
  std::int32_t Scan(WindowHandle parent, std::uint64_t value, IScanningCallback* callback) override;
  HResult QueryValue(std::uint64_t value, std::uint32_t* result) override;
  HResult UnsupportedOperation() override;

  const ElementTypeDescriptor* descriptor;
  IScanningCallback* callback = nullptr;  // not owned; valid while a scan runs

  // Settings. The switches get their defaults here too, so that an element is sound
  // even before its first LoadSettings.
  std::int32_t AllowRescanning = 1;
  std::int32_t DeleteFaxes = 1;
  std::int32_t DeleteGroupFolder = 1;
  Str SelectedPath;
  StrArray directories;   // as registered; may hold environment references
  StrArray storageNames;  // derived: ReadStorageName of each directory, never stored

  // Import state of the group in hand.
  WindowHandle parentWindow = nullptr;
  Str lastPageName;
  Str damagedPages;
  Str damagedHeader;
  Str orderFilePath;
  Str groupPath;
  Str pendingDocumentName;
  // The group in hand, opened once for the whole group (null between groups); what the
  // pending document's import saw in its folder, which alone its finishing deletes; and
  // whether the pending document is to stay without a report (something in it could not
  // be read, and the trace says what).
  const Folder* groupFolder = nullptr;
  SeenEntries pendingEntries;
  bool pendingKeep = false;

  // Rebuilds storageNames from directories.
  void RebuildStorageNames();

 private:
  ~CElement() = default;
};

using CElement = CVAVudiImplement::CElement;

// The display name of a storage: the first line of its description file.
Str ReadStorageName(const Str& directory);

}  // namespace es
