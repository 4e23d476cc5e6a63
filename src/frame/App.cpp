#include "frame/App.h"

#include "Brivel.h"
#include "Lunmere.h"
#include "Tessard.h"
#include "frame/ModuleState.h"
#include "frame/Trace.h"

namespace es {

namespace {
// The module-wide objects, built in this order when the module is loaded and destroyed
// in reverse order when it is unloaded. The priorities keep them ahead of the code that
// attaches the module on load.
thread_local ModuleState* tCurrentState = nullptr;
ModuleState gHostState __attribute__((init_priority(1001)));
ModuleState gModuleState __attribute__((init_priority(1002)));
ResultSlot gResultSlot __attribute__((init_priority(1003)));
std::u16string gReplacementImagePath __attribute__((init_priority(1004)));
CVUVovurApp gApp __attribute__((init_priority(1005)));
}  // namespace

ModuleState& ThisModuleState() { return gModuleState; }

ModuleState* CurrentModuleState() { return tCurrentState != nullptr ? tCurrentState : &gHostState; }

ModuleState* SwapModuleState(ModuleState* state) {
  ModuleState* previous = CurrentModuleState();
  tCurrentState = state;
  return previous;
}

ModuleStateScope::ModuleStateScope() : previous_(SwapModuleState(&gModuleState)) {}
ModuleStateScope::~ModuleStateScope() { SwapModuleState(previous_); }

ResultSlot& TheResultSlot() { return gResultSlot; }
std::u16string& ReplacementImagePathCache() { return gReplacementImagePath; }

CVUVovurApp::CVUVovurApp() {
  const char16_t* name = GetAppName();
  if (name != nullptr) appName_ = name;
  gModuleState.app = this;
}

bool CVUVovurApp::InitInstance() {
  ModuleState& state = ThisModuleState();
  void* h = state.instance;
  if (h != nullptr) traceModuleHandle = h;
  CLogBase::InitImpl(u"", h, CLang::GetResourceHandle(h));
  void* r = state.resources;
  state.resources = CLang::GetResourceHandle(r);
  return true;
}

int CVUVovurApp::ExitInstance() { return 0; }

CVUVovurApp& TheApp() { return gApp; }

bool ModuleAttach(void* instance) {
  gModuleState.instance = instance;
  gModuleState.resources = instance;
  return gApp.InitInstance();
}

void ModuleDetach() { gApp.ExitInstance(); }

}  // namespace es
