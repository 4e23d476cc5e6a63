// The module state: which module's instance and resources are current on a thread.
// Entries that load resources, open windows or trace make the module's own state
// current for their whole run and give the caller's back on every way out.
#pragma once

#include <string>

namespace es {

class CVUVovurApp;

struct ModuleState {
  void* instance = nullptr;   // the module's instance handle
  void* resources = nullptr;  // where strings, dialogs and icons are loaded from
  CVUVovurApp* app = nullptr;
};

// The module's own state (a module-wide object).
ModuleState& ThisModuleState();
// The state current on the calling thread: the host's until an entry switches.
ModuleState* CurrentModuleState();
// For tests and hosts: makes `state` current on this thread; returns the previous one.
ModuleState* SwapModuleState(ModuleState* state);

class ModuleStateScope {
 public:
  ModuleStateScope();
  ~ModuleStateScope();
  ModuleStateScope(const ModuleStateScope&) = delete;
  ModuleStateScope& operator=(const ModuleStateScope&) = delete;

 private:
  ModuleState* previous_;
};

// The three texts through which the scan dialog's counting worker hands over one count.
struct ResultSlot {
  std::u16string groupName;
  std::u16string folderName;
  std::u16string count;
};
ResultSlot& TheResultSlot();

// The replacement page image's path, empty until first needed.
std::u16string& ReplacementImagePathCache();

}  // namespace es
