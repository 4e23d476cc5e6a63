// Loading and saving an element's settings through the host's settings store, and the
// display name of a storage.
#include <cstdio>
#include <vector>

#include "frame/Element.h"
#include "platform/Platform.h"
#include "storage/StorageName.h"

namespace es {

namespace {

constexpr char16_t kAllowRescanning[] = u"AllowRescanning";
constexpr char16_t kDeleteFaxes[] = u"DeleteFaxes";
constexpr char16_t kDeleteGroupFolder[] = u"DeleteGroupFolder";
constexpr char16_t kSelectedPath[] = u"SelectedPath";
constexpr char16_t kNumberOfDirs[] = u"Number of dirs";
constexpr char16_t kDirPrefix[] = u"Dir";

// A failing store operation: its result and the store's interface id.
struct StoreError {
  HResult result;
  EsGuid iid;
};

void Check(HResult result) {
  if (result < 0) throw StoreError{result, kIID_ISettingsStore};
}

// A BSTR allocated for one call.
class BstrText {
 public:
  explicit BstrText(const Str& text) : text_(platform::BstrAlloc(text.data(), text.size())) {}
  ~BstrText() { platform::BstrFree(text_); }
  BstrText(const BstrText&) = delete;
  BstrText& operator=(const BstrText&) = delete;
  Bstr get() const { return text_; }

 private:
  Bstr text_;
};

Str DirName(std::size_t index) { return Str(kDirPrefix) + DecimalText(static_cast<long long>(index)); }

bool GetBool(ISettingsStore* store, const Str& name) {
  BstrText n(name);
  std::int16_t value = 0;
  Check(store->GetBool(n.get(), &value));
  return value != 0;
}

Str GetString(ISettingsStore* store, const Str& name) {
  BstrText n(name);
  Bstr value = nullptr;
  const HResult result = store->GetString(n.get(), &value);
  Str text = value != nullptr ? Str(value) : Str();
  platform::BstrFree(value);
  Check(result);
  return text;
}

std::int64_t GetInteger(ISettingsStore* store, const Str& name) {
  BstrText n(name);
  std::int64_t value = 0;
  Check(store->GetInteger(n.get(), &value));
  return value;
}

void SetBool(ISettingsStore* store, const Str& name, bool value) {
  BstrText n(name);
  Check(store->SetBool(n.get(), static_cast<std::int16_t>(value ? 1 : 0)));
}

void SetString(ISettingsStore* store, const Str& name, const Str& value) {
  BstrText n(name);
  BstrText v(value);
  Check(store->SetString(n.get(), v.get()));
}

void SetInteger(ISettingsStore* store, const Str& name, std::int64_t value) {
  BstrText n(name);
  Check(store->SetInteger(n.get(), value));
}

// AddRef on entry and Release on every way out; a store that throws from either is
// not allowed to take the module down.
class StoreUse {
 public:
  explicit StoreUse(ISettingsStore* store) : store_(store) {
    if (store_ != nullptr) {
      try {
        store_->AddRef();
      } catch (...) {
      }
    }
  }
  ~StoreUse() {
    if (store_ != nullptr) {
      try {
        store_->Release();
      } catch (...) {
      }
    }
  }
  StoreUse(const StoreUse&) = delete;
  StoreUse& operator=(const StoreUse&) = delete;

 private:
  ISettingsStore* store_;
};

}  // namespace

std::int32_t CElement::LoadSettings(ISettingsStore* store) {
  AllowRescanning = 1;
  DeleteFaxes = 1;
  DeleteGroupFolder = 1;
  SelectedPath.clear();
  directories.clear();
  storageNames.clear();

  StoreUse use(store);
  if (store == nullptr) return 0;
  // Every read that fails ends the load where it is; what was read stays.
  try {
    AllowRescanning = GetBool(store, kAllowRescanning) ? 1 : 0;
    DeleteFaxes = GetBool(store, kDeleteFaxes) ? 1 : 0;
    try {
      DeleteGroupFolder = GetBool(store, kDeleteGroupFolder) ? 1 : 0;
    } catch (const StoreError&) {
      // Settings written before the group folder switch existed follow "DeleteFaxes".
      DeleteGroupFolder = DeleteFaxes;
    }
    SelectedPath = GetString(store, kSelectedPath);
    directories.clear();
    storageNames.clear();
    const auto count = static_cast<std::int32_t>(static_cast<std::uint32_t>(GetInteger(store, kNumberOfDirs)));
    for (std::int32_t i = 0; i < count; ++i) {
      Str directory = GetString(store, DirName(static_cast<std::size_t>(i)));
      if (directory.empty()) continue;
      storageNames.push_back(ReadStorageName(directory));
      directories.push_back(std::move(directory));
    }
  } catch (...) {
  }
  return 0;
}

HResult CElement::SaveSettings(ISettingsStore* store) {
  StoreUse use(store);
  if (store == nullptr) return kE_UNEXPECTED;
  try {
    SetBool(store, kAllowRescanning, AllowRescanning != 0);
    SetBool(store, kDeleteFaxes, DeleteFaxes != 0);
    SetBool(store, kDeleteGroupFolder, DeleteGroupFolder != 0);
    SetString(store, kSelectedPath, SelectedPath);
    SetInteger(store, kNumberOfDirs, static_cast<std::int64_t>(directories.size()));
    for (std::size_t i = 0; i < directories.size(); ++i) SetString(store, DirName(i), directories[i]);
  } catch (...) {
    return kE_UNEXPECTED;
  }
  return kS_OK;
}


}  // namespace es
