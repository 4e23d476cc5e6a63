#include "frame/App.h"

#include "Brivel.h"
#include "Lunmere.h"
#include "Tessard.h"
#include "base/ModuleState.h"
#include "base/Trace.h"

namespace es {

namespace {
// The application object, built after the module-wide objects of the module state (see
// base/ModuleState.cpp) and destroyed before them.
CVUVovurApp gApp __attribute__((init_priority(1005)));
}  // namespace

CVUVovurApp::CVUVovurApp() {
  const char16_t* name = GetAppName();
  if (name != nullptr) appName_ = name;
  ThisModuleState().app = this;
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
  ThisModuleState().instance = instance;
  ThisModuleState().resources = instance;
  return gApp.InitInstance();
}

void ModuleDetach() { gApp.ExitInstance(); }

}  // namespace es
