// A settings store for tests: forwards every Get and Set to a real store, counts the
// calls and AddRef against Release, and fails or throws at the n-th Get/Set call on
// request. It lives on the test's stack (no self-deletion) so that its reference balance
// can be checked; it holds one reference to the store it forwards to.
#pragma once

#include <es/HostInterfaces.h>

#include <cstdint>
#include <stdexcept>

namespace es::host {

// What FailingSettingsStore throws when told to.
class InjectedStoreError : public std::runtime_error {
 public:
  explicit InjectedStoreError(HResult result)
      : std::runtime_error("settings store failure injected by a test"), result_(result) {}
  HResult result() const { return result_; }

 private:
  HResult result_;
};

class FailingSettingsStore final : public ISettingsStore {
 public:
  explicit FailingSettingsStore(ISettingsStore* inner) : inner_(inner) {
    if (inner_ != nullptr) inner_->AddRef();
  }
  ~FailingSettingsStore() {
    if (inner_ != nullptr) inner_->Release();
  }
  FailingSettingsStore(const FailingSettingsStore&) = delete;
  FailingSettingsStore& operator=(const FailingSettingsStore&) = delete;

  // The n-th Get/Set call (counting from 1, all six operations together) returns
  // `result` without reaching the inner store. 0 switches failing off.
  void FailAt(int n, HResult result = kE_FAIL) {
    failAt_ = n;
    failResult_ = result;
    throwAt_ = 0;
  }
  // The n-th Get/Set call throws InjectedStoreError instead. 0 switches it off.
  void ThrowAt(int n, HResult result = kE_FAIL) {
    throwAt_ = n;
    failResult_ = result;
    failAt_ = 0;
  }

  int GetSetCount() const { return calls_; }
  int AddRefCount() const { return addRefs_; }
  // AddRef calls minus Release calls; 0 when every use was bracketed.
  int RefBalance() const { return addRefs_ - releases_; }

  HResult QueryInterface(const EsGuid& iid, void** object) override {
    if (object == nullptr) return kE_POINTER;
    *object = nullptr;
    if (inner_ == nullptr) return static_cast<HResult>(0x80004002u);
    void* innerObject = nullptr;
    const HResult result = inner_->QueryInterface(iid, &innerObject);
    if (result < 0) return result;
    // Hand out this wrapper, not the inner store, so that every call stays recorded.
    inner_->Release();
    *object = static_cast<ISettingsStore*>(this);
    AddRef();
    return kS_OK;
  }
  std::uint32_t AddRef() override { return static_cast<std::uint32_t>(1 + ++addRefs_ - releases_); }
  std::uint32_t Release() override { return static_cast<std::uint32_t>(1 + addRefs_ - ++releases_); }
  HResult Reserved3() override { return kE_NOTIMPL; }
  HResult Reserved4() override { return kE_NOTIMPL; }
  HResult Reserved5() override { return kE_NOTIMPL; }
  HResult Reserved6() override { return kE_NOTIMPL; }
  HResult Reserved7() override { return kE_NOTIMPL; }
  HResult Reserved8() override { return kE_NOTIMPL; }
  HResult Reserved9() override { return kE_NOTIMPL; }
  HResult Reserved10() override { return kE_NOTIMPL; }
  HResult Reserved11() override { return kE_NOTIMPL; }
  HResult GetString(Bstr name, Bstr* value) override {
    return Forward([&] { return inner_->GetString(name, value); });
  }
  HResult GetInteger(Bstr name, std::int64_t* value) override {
    return Forward([&] { return inner_->GetInteger(name, value); });
  }
  HResult Reserved14() override { return kE_NOTIMPL; }
  HResult GetBool(Bstr name, std::int16_t* value) override {
    return Forward([&] { return inner_->GetBool(name, value); });
  }
  HResult Reserved16() override { return kE_NOTIMPL; }
  HResult SetString(Bstr name, Bstr value) override {
    return Forward([&] { return inner_->SetString(name, value); });
  }
  HResult SetInteger(Bstr name, std::int64_t value) override {
    return Forward([&] { return inner_->SetInteger(name, value); });
  }
  HResult Reserved19() override { return kE_NOTIMPL; }
  HResult SetBool(Bstr name, std::int16_t value) override {
    return Forward([&] { return inner_->SetBool(name, value); });
  }

 private:
  template <typename Body>
  HResult Forward(Body&& body) {
    const int number = ++calls_;
    if (number == throwAt_) throw InjectedStoreError(failResult_);
    if (number == failAt_) return failResult_;
    return inner_ != nullptr ? body() : kE_UNEXPECTED;
  }

  ISettingsStore* inner_;
  int calls_ = 0;
  int failAt_ = 0;
  int throwAt_ = 0;
  HResult failResult_ = kE_FAIL;
  int addRefs_ = 0;
  int releases_ = 0;
};

}  // namespace es::host
