#include "base/ModuleState.h"

namespace es {

namespace {
// The module-wide objects, built in this order when the module is loaded and destroyed
// in reverse order when it is unloaded. The priorities keep them ahead of the code that
// attaches the module on load (the application object follows them, at 1005).
thread_local ModuleState* tCurrentState = nullptr;
ModuleState gHostState __attribute__((init_priority(1001)));
ModuleState gModuleState __attribute__((init_priority(1002)));
ResultSlot gResultSlot __attribute__((init_priority(1003)));
std::u16string gReplacementImagePath __attribute__((init_priority(1004)));
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

}  // namespace es
