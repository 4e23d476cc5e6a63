#include "host/ModuleLoader.h"

#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace eshost {

namespace fs = std::filesystem;

LoadedModule::~LoadedModule() { Unload(); }

#ifdef _WIN32
namespace {
std::string LastErrorText(DWORD code) {
  wchar_t* buffer = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                 nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::string text = buffer != nullptr ? Utf16To8(reinterpret_cast<const char16_t*>(buffer)) : "error " + std::to_string(code);
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  return text;
}
}  // namespace

bool LoadedModule::Load(const std::string& path, std::string* error) {
  Unload();
  const std::u16string wide = Utf8To16(path);
  if (!fs::exists(fs::path(reinterpret_cast<const wchar_t*>(wide.c_str())))) {
    *error = path + ": module not found";
    return false;
  }
  // The module's companions lie beside it: search its own folder for them.
  HMODULE module = LoadLibraryExW(reinterpret_cast<const wchar_t*>(wide.c_str()), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (module == nullptr) {
    const DWORD code = GetLastError();
    *error = path + (code == ERROR_BAD_EXE_FORMAT ? ": not a module (" : ": cannot be loaded (") + LastErrorText(code) + ")";
    return false;
  }
  auto entry = reinterpret_cast<ScanningCreateImplementsFn>(
      reinterpret_cast<void*>(GetProcAddress(module, kScanningCreateImplementsName)));
  if (entry == nullptr) {
    FreeLibrary(module);
    *error = path + ": not an input module (no ScanningCreateImplements export)";
    return false;
  }
  handle_ = module;
  entry_ = entry;
  return true;
}

void LoadedModule::Unload() {
  if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
  handle_ = nullptr;
  entry_ = nullptr;
}

std::string DefaultModulePath() {
  wchar_t buffer[32768];
  const DWORD n = GetModuleFileNameW(nullptr, buffer, 32768);
  fs::path exe(std::wstring(buffer, n));
  return Utf16To8(reinterpret_cast<const char16_t*>((exe.parent_path() / L"Input.ExternalStorage.dll").wstring().c_str()));
}
#else
bool LoadedModule::Load(const std::string& path, std::string* error) {
  Unload();
  std::error_code ec;
  if (!fs::exists(path, ec)) {
    *error = path + ": module not found";
    return false;
  }
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    const char* why = dlerror();
    *error = path + ": not a loadable module (" + (why != nullptr ? why : "unknown reason") + ")";
    return false;
  }
  auto entry = reinterpret_cast<ScanningCreateImplementsFn>(dlsym(module, kScanningCreateImplementsName));
  if (entry == nullptr) {
    dlclose(module);
    *error = path + ": not an input module (no ScanningCreateImplements export)";
    return false;
  }
  handle_ = module;
  entry_ = entry;
  return true;
}

void LoadedModule::Unload() {
  if (handle_ != nullptr) dlclose(handle_);
  handle_ = nullptr;
  entry_ = nullptr;
}

std::string DefaultModulePath() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return (exe.parent_path() / "Input.ExternalStorage.so").string();
}
#endif

}  // namespace eshost
