// eshost's settings store: one element's settings in one JSON file.
//
// The file is a flat JSON object whose keys are the value names the element uses
// ("AllowRescanning", "Number of dirs", "Dir0", ...). Reading happens once, when the
// store is opened; changes stay in memory until Commit() writes the whole object to
// a temporary file beside the target and renames it over the target, so that the
// file on disk is always either the old or the new settings, never half of each.
//
// A file that cannot be used (not JSON, not an object, a known name holding the
// wrong type) puts the store in an error state: every Get and Set fails and Commit
// refuses, so the user's file stays as it is until they repair it.
//
// Names and string values are NUL-terminated UTF-16 (BSTRs from the module; a null
// BSTR counts as empty text). Not thread-safe: the module calls it from the host's
// user-interface thread only.
#pragma once

#include <es/HostInterfaces.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace es::host {

// Results the store gives besides those of HostInterfaces.h.
inline constexpr HResult kE_NOINTERFACE = static_cast<HResult>(0x80004002u);
inline constexpr HResult kE_NOTFOUND = static_cast<HResult>(0x80070002u);  // no such name
inline constexpr HResult kE_INVALIDARG = static_cast<HResult>(0x80070057u);
inline constexpr HResult kE_OUTOFMEMORY = static_cast<HResult>(0x8007000Eu);

// IUnknown's interface id; every COM object answers to it.
inline constexpr EsGuid kIID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Releases a COM-style object instead of deleting it.
struct ReleaseDeleter {
  template <typename T>
  void operator()(T* object) const {
    if (object != nullptr) object->Release();
  }
};
template <typename T>
using ComPtr = std::unique_ptr<T, ReleaseDeleter>;

class JsonSettingsStore final : public ISettingsStore {
 public:
  // Reads the file at `path`. Never null and never throws for a bad file: a missing
  // file is an empty store, any other problem shows in HasError(). The object starts
  // with one reference, which the returned pointer owns.
  static ComPtr<JsonSettingsStore> Open(const std::filesystem::path& path);

  JsonSettingsStore(const JsonSettingsStore&) = delete;
  JsonSettingsStore& operator=(const JsonSettingsStore&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  bool HasError() const { return !error_.empty(); }
  // Names the file and what is wrong with it; empty when the store is usable.
  const std::string& Error() const { return error_; }

  // Writes the settings to the file atomically. On failure returns false, sets
  // `*message` (when given) and leaves the old file and no temporary file behind.
  bool Commit(std::string* message);

  // The settings as Commit would write them (UTF-8, 2-space indent, sorted keys).
  std::string Serialize() const;

  // Stores not yet released to zero, in the whole process: lets the host and tests
  // check that every reference handed out came back.
  static int LiveObjects();

  // ISettingsStore.
  HResult QueryInterface(const EsGuid& iid, void** object) override;
  std::uint32_t AddRef() override;
  std::uint32_t Release() override;
  HResult Reserved3() override { return kE_NOTIMPL; }
  HResult Reserved4() override { return kE_NOTIMPL; }
  HResult Reserved5() override { return kE_NOTIMPL; }
  HResult Reserved6() override { return kE_NOTIMPL; }
  HResult Reserved7() override { return kE_NOTIMPL; }
  HResult Reserved8() override { return kE_NOTIMPL; }
  HResult Reserved9() override { return kE_NOTIMPL; }
  HResult Reserved10() override { return kE_NOTIMPL; }
  HResult Reserved11() override { return kE_NOTIMPL; }
  HResult GetString(Bstr name, Bstr* value) override;
  HResult GetInteger(Bstr name, std::int64_t* value) override;
  HResult Reserved14() override { return kE_NOTIMPL; }
  HResult GetBool(Bstr name, std::int16_t* value) override;
  HResult Reserved16() override { return kE_NOTIMPL; }
  HResult SetString(Bstr name, Bstr value) override;
  HResult SetInteger(Bstr name, std::int64_t value) override;
  HResult Reserved19() override { return kE_NOTIMPL; }
  HResult SetBool(Bstr name, std::int16_t value) override;

 private:
  struct Values;  // the JSON object, kept out of this header

  explicit JsonSettingsStore(std::filesystem::path path);
  ~JsonSettingsStore();
  void Load();

  std::filesystem::path path_;
  std::string error_;
  std::unique_ptr<Values> values_;
  std::atomic<std::uint32_t> references_{1};
};

}  // namespace es::host
