// The module's application object: start-up and shut-down of the module.
#pragma once

#include <string>

namespace es {

class CVUVovurApp {
 public:
  CVUVovurApp();
  // Runs once the module is attached: trace handle, logging layer, language resources.
  bool InitInstance();
  int ExitInstance();
  const std::u16string& AppName() const { return appName_; }

 private:
  std::u16string appName_;
};

CVUVovurApp& TheApp();

// Called by the module's attach and detach code (DLL attach on Windows, shared-object
// load on Linux): sets the module state's instance handle and runs InitInstance.
bool ModuleAttach(void* instance);
void ModuleDetach();

}  // namespace es
