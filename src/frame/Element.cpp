#include "frame/Element.h"

#include "Quillet.h"
#include "attrs/AttributeIds.h"
#include "attrs/ScanStamp.h"
#include "base/ModuleState.h"
#include "frame/Scan.h"
#include "storage/StorageName.h"

namespace es {

using namespace attrs;

CElement::CElement(const ElementTypeDescriptor* d) : descriptor(d) {}

void CElement::DeleteThis() { delete this; }

const char16_t* CElement::GetTypeName() { return descriptor->typeName; }

HResult CElement::GetDisplayName(char16_t* buffer, std::int32_t capacity) {
  return LoadDisplayName(descriptor, buffer, capacity);
}

IconHandle CElement::GetIcon() { return LoadElementIcon(descriptor); }

bool CElement::QueryFlag6() { return true; }
bool CElement::QueryFlag8() { return true; }
bool CElement::QueryFlag9() { return true; }
bool CElement::QueryFlag10() { return true; }
bool CElement::QueryFlag11() { return true; }

std::uint32_t CElement::GetElementFlags() { return descriptor->elementFlags; }

HResult CElement::QueryValue(std::uint64_t, std::uint32_t* result) {
  if (*result == 0) return kE_POINTER;
  *result = 0;
  return kS_OK;
}

HResult CElement::UnsupportedOperation() { return kE_NOTIMPL; }

std::int32_t CElement::InitializeAttributes(CAttrContainer* container, IInitializeSite* site) {
  ModuleStateScope scope;
  if (container == nullptr || site == nullptr) return 0;
  if (!container->IsEmpty()) return 0;

  auto& c = *container;
  c.SetAttr(kPageResolutionX, 300L, 0);
  c.SetAttr(kPageResolutionY, 300L, 0);
  c.SetAttr(kPageBitDepth, 24L, 0);
  c.SetAttr(kPageWidth, 2100L, 0);
  c.SetAttr(kPageHeight, 2970L, 0);
  c.SetAttr(kPageAlwaysZero, 0L, 0);
  c.SetAttr(kPageAllowRescan, AllowRescanning != 0 ? 1L : 0L, 0);
  c.SetAttr(kPageSourceName, descriptor->typeName, 0);
  const ScanStamp stamp = CurrentScanStamp();
  c.SetAttr(kPageScanStamp, stamp.data(), kScanStampSize, 0);
  c.SetAttr(kPageFirstOfDocument, 1, 0);
  c.SetAttr(kPageAlwaysOne, 1L, 0);
  c.SetAttr(kPageRecord108, 1, 0);
  // These long-typed ids go through the int overload, as the host has always seen them.
  c.SetAttr(kPageRecord10A, 50, 0);
  c.SetAttr(kPageRecord109, 0, 0);
  c.SetAttr(kPageRecord10B, 0, 0);
  c.SetAttr(kPageRecord10C, 0, 0);
  c.SetAttr(kPageRecord10D, 0, 0);
  const std::uint8_t attr12[kValueBlockSize] = {1, 0, 0, 0};
  c.SetAttr(kPageValueBlock, attr12, kValueBlockSize, 0);
  c.SetAttr(kPageSignature, 1, 0);

  site->Notify(0, 0);
  return 1;
}

std::int32_t CElement::Configure(WindowHandle parent, bool allowScan, const char16_t* captionFormat,
                                 bool captionGiven) {
  ModuleStateScope scope;
  return RunConfigure(*this, parent, allowScan, captionFormat, captionGiven);
}

std::int32_t CElement::Scan(WindowHandle parent, std::uint64_t, IScanningCallback* scanCallback) {
  ModuleStateScope scope;
  callback = scanCallback;
  RunScan(*this, parent);
  return 1;
}

void CElement::RebuildStorageNames() {
  storageNames.clear();
  for (const auto& directory : directories) storageNames.push_back(ReadStorageName(directory));
}

}  // namespace es
