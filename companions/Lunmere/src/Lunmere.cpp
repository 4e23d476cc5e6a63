// Language resources: which module supplies a module's strings, and the strings
// themselves. Windows reads the resource section; POSIX builds have none, so each
// shared object registers a LunmereModule that serves its string table.
#include "Lunmere.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>

#include <algorithm>
#include <mutex>
#include <vector>
#endif

void* CLang::GetResourceHandle(void* module) {
  // Every module carries its own resources; there are no separate language modules yet.
  return module;
}

#ifdef _WIN32

int LunmereLoadString(void* resources, std::uint32_t id, char16_t* buffer, int capacity) {
  // A capacity of 0 would make LoadStringW hand out a pointer into the resource section
  // instead of copying; nobody here asks for that.
  if (buffer == nullptr || capacity <= 0) return 0;
  return LoadStringW(static_cast<HINSTANCE>(resources), id, reinterpret_cast<wchar_t*>(buffer),
                     capacity);
}

void* LunmereModuleFromAddress(const void* address) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCWSTR>(address), &module)) {
    return nullptr;
  }
  return module;
}

#else

namespace {

std::mutex& RegistryMutex() {
  static std::mutex mutex;
  return mutex;
}

std::vector<LunmereModule*>& Registry() {
  static std::vector<LunmereModule*> modules;
  return modules;
}

bool IsRegistered(const void* resources) {
  const auto& modules = Registry();
  return std::find(modules.begin(), modules.end(), resources) != modules.end();
}

// The base address of the loaded object that holds `address`, or null.
const void* ObjectBase(const void* address) {
  Dl_info info{};
  if (address == nullptr || dladdr(address, &info) == 0) return nullptr;
  return info.dli_fbase;
}

}  // namespace

int LunmereLoadString(void* resources, std::uint32_t id, char16_t* buffer, int capacity) {
  if (resources == nullptr || buffer == nullptr || capacity <= 0) return 0;
  LunmereModule* module = nullptr;
  {
    // Only a registered record is dereferenced: a stray handle must not be read.
    std::lock_guard<std::mutex> lock(RegistryMutex());
    if (!IsRegistered(resources)) return 0;
    module = static_cast<LunmereModule*>(resources);
    if (module->magic != kLunmereMagic || module->loadString == nullptr) return 0;
  }
  const int copied = module->loadString(id, buffer, capacity);
  if (copied <= 0) return 0;
  return copied < capacity ? copied : capacity - 1;
}

void* LunmereModuleFromAddress(const void* address) {
  const void* base = ObjectBase(address);
  if (base == nullptr) return nullptr;
  std::lock_guard<std::mutex> lock(RegistryMutex());
  for (LunmereModule* module : Registry()) {
    if (ObjectBase(module->anyAddressInside) == base) return module;
  }
  return nullptr;
}

void LunmereRegisterModule(LunmereModule* module) {
  if (module == nullptr || module->magic != kLunmereMagic) return;
  std::lock_guard<std::mutex> lock(RegistryMutex());
  if (!IsRegistered(module)) Registry().push_back(module);
}

void LunmereUnregisterModule(LunmereModule* module) {
  std::lock_guard<std::mutex> lock(RegistryMutex());
  auto& modules = Registry();
  modules.erase(std::remove(modules.begin(), modules.end(), module), modules.end());
}

#endif
