// The module's entry points: its one export, and its attach and detach on load and unload.
// Linked only into the module itself, so that tests linking the core see no start-up.
#include <cstdint>

#include "es/HostInterfaces.h"
#include "frame/App.h"
#include "frame/VAVudiImplement.h"
#include "platform/Platform.h"

#ifdef _WIN32
#define ES_EXPORT
#else
#define ES_EXPORT __attribute__((visibility("default")))
#endif

extern "C" ES_EXPORT std::int32_t ScanningCreateImplements(std::uint32_t number, IElementFactory** factory) {
  return es::CreateImplements(number, factory);
}

#ifdef _WIN32
namespace {
constexpr unsigned long kProcessDetach = 0;
constexpr unsigned long kProcessAttach = 1;
}  // namespace

// Called by the C runtime after the module-wide objects are built and before they go.
extern "C" int __stdcall DllMain(void* instance, unsigned long reason, void*) {
  if (reason == kProcessAttach) return es::ModuleAttach(instance) ? 1 : 0;
  if (reason == kProcessDetach) es::ModuleDetach();
  return 1;
}
#else
namespace {
__attribute__((constructor)) void AttachOnLoad() { es::ModuleAttach(es::platform::ThisModuleHandle()); }
__attribute__((destructor)) void DetachOnUnload() { es::ModuleDetach(); }
}  // namespace
#endif
