// Language resources: which module supplies a module's strings, dialogs and icons.
#pragma once

#include <cstdint>

class CLang {
 public:
  // The module whose resources are to be used for `module`: a language resource
  // module, or `module` itself.
  static void* GetResourceHandle(void* module);
};

// Loads string resource `id` of a resource module with LoadStringW semantics: at most
// capacity - 1 characters and a terminator; returns the number of characters copied
// (0 when the string is missing, the buffer then untouched). On POSIX `resources` must
// be a registered LunmereModule; any other handle yields 0.
int LunmereLoadString(void* resources, std::uint32_t id, char16_t* buffer, int capacity);

// The module containing a code address (null when none is known). On POSIX: the
// registered LunmereModule whose anyAddressInside lies in the same loaded object.
void* LunmereModuleFromAddress(const void* address);

#ifndef _WIN32
// POSIX has no resource section: a shared object describes its string table with this
// record and registers it when loaded. Its address is the module's instance handle.
struct LunmereModule {
  std::uint32_t magic;  // kLunmereMagic
  const void* anyAddressInside;
  int (*loadString)(std::uint32_t id, char16_t* buffer, int capacity);
};
inline constexpr std::uint32_t kLunmereMagic = 0x4C4D4F44;  // "LMOD"
void LunmereRegisterModule(LunmereModule* module);
void LunmereUnregisterModule(LunmereModule* module);
#endif
