// A settings store for tests: forwards every Get and Set to a real store, fails or throws
// at the n-th of them on request, and counts AddRef against Release. It lives on the
// test's stack (no self-deletion) so that its reference balance can be checked.
#pragma once

#include <es/HostInterfaces.h>

#include <cstdint>
#include <stdexcept>

namespace es::host {

class FailingSettingsStore final : public ISettingsStore {
 public:
  explicit FailingSettingsStore(ISettingsStore* inner) : inner_(inner) {}

  // The n-th Get/Set call (counting from 1, all six operations together) returns E_FAIL,
  // or throws, without reaching the inner store. 0: no call fails.
  void FailAt(int n, bool throws) {
    failAt_ = n;
    throws_ = throws;
  }
  int GetSetCount() const { return calls_; }
  int AddRefCount() const { return addRefs_; }
  // AddRef calls minus Release calls; 0 when every use was bracketed.
  int RefBalance() const { return addRefs_ - releases_; }

  HResult QueryInterface(const EsGuid&, void**) override { return kE_NOTIMPL; }  // the module never asks
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
  HResult GetString(Bstr name, Bstr* value) override { return Forward([&] { return inner_->GetString(name, value); }); }
  HResult GetInteger(Bstr name, std::int64_t* value) override { return Forward([&] { return inner_->GetInteger(name, value); }); }
  HResult Reserved14() override { return kE_NOTIMPL; }
  HResult GetBool(Bstr name, std::int16_t* value) override { return Forward([&] { return inner_->GetBool(name, value); }); }
  HResult Reserved16() override { return kE_NOTIMPL; }
  HResult SetString(Bstr name, Bstr value) override { return Forward([&] { return inner_->SetString(name, value); }); }
  HResult SetInteger(Bstr name, std::int64_t value) override { return Forward([&] { return inner_->SetInteger(name, value); }); }
  HResult Reserved19() override { return kE_NOTIMPL; }
  HResult SetBool(Bstr name, std::int16_t value) override { return Forward([&] { return inner_->SetBool(name, value); }); }

 private:
  template <typename Body>
  HResult Forward(Body&& body) {
    if (++calls_ != failAt_) return body();
    if (throws_) throw std::runtime_error("settings store failure injected by a test");
    return kE_FAIL;
  }

  ISettingsStore* inner_;
  int calls_ = 0, failAt_ = 0, addRefs_ = 0, releases_ = 0;
  bool throws_ = false;
};

}  // namespace es::host
