// Loads the module by path and finds its export.
#pragma once

#include <string>

#include "es/HostInterfaces.h"

namespace eshost {

class LoadedModule {
 public:
  LoadedModule() = default;
  ~LoadedModule();
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;

  // `path` is UTF-8. On failure `error` names the file and the reason.
  bool Load(const std::string& path, std::string* error);
  ScanningCreateImplementsFn Entry() const { return entry_; }
  void Unload();

 private:
  void* handle_ = nullptr;
  ScanningCreateImplementsFn entry_ = nullptr;
};

// The module file that ships beside the running program.
std::string DefaultModulePath();
// Converts between UTF-8 (the host's own text) and UTF-16 (the module's).
std::u16string Utf8To16(const std::string& text);
std::string Utf16To8(const std::u16string& text);

}  // namespace eshost
