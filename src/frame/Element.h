// The scanning element the host drives: settings, default attributes, configure, scan.
#pragma once

#include <cstdint>

#include "es/HostInterfaces.h"
#include "base/Text.h"
#include "frame/VAVudiImplement.h"
#include "storage/ImportState.h"

namespace es {

class CVAVudiImplement::CElement final : public IElementScanning, public ImportState {
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

  // Settings; the switches and the import state are the import's (ImportState), with
  // their defaults, so that an element is sound even before its first LoadSettings.
  Str SelectedPath;
  StrArray directories;   // as registered; may hold environment references
  StrArray storageNames;  // derived: ReadStorageName of each directory, never stored

  // Rebuilds storageNames from directories.
  void RebuildStorageNames();

 private:
  ~CElement() = default;
};

using CElement = CVAVudiImplement::CElement;


}  // namespace es
